#include "mqtt/mosquitto_library.h"

#include <string>

#include <gtest/gtest.h>

namespace rovalink::mqtt {
namespace {

// The library is found at run time; without it MQTT is refused with the reason, and no call is
// left half looked up. (The e2e test connects through the real one.)
TEST(MosquittoLibrary, AMissingLibraryIsAReasonNotACrash) {
  const MosquittoLibrary missing("librovalink-absent.so.1");
  EXPECT_FALSE(missing.loaded());
  EXPECT_NE(missing.error().find("librovalink-absent.so.1"), std::string::npos) << missing.error();
  EXPECT_EQ(missing.mosquitto_new, nullptr);
  EXPECT_TRUE(MosquittoLibrary().loaded()) << MosquittoLibrary().error();
}

}  // namespace
}  // namespace rovalink::mqtt
