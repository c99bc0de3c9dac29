#include "platform/shared_library.h"

#include <string>

#include <gtest/gtest.h>

namespace rovalink::platform {
namespace {

// MQTT and the page database load their libraries when first needed: a missing library or call
// is a reason to refuse them, never a call through a null pointer.
TEST(SharedLibrary, AMissingLibraryOrCallIsAReasonNotACrash) {
  SharedLibrary missing("librovalink-absent.so.1");
  EXPECT_FALSE(missing.loaded());
  EXPECT_NE(missing.error().find("librovalink-absent.so.1"), std::string::npos) << missing.error();
  int (*call)() = [] { return 1; };
  missing.find("anything", call);
  EXPECT_EQ(call, nullptr);

  SharedLibrary math("libm.so.6");
  double (*cosine)(double) = nullptr;
  math.find("cos", cosine);
  ASSERT_TRUE(math.loaded()) << math.error();
  EXPECT_EQ(cosine(0.0), 1.0);
  math.find("rovalink_absent", cosine);
  EXPECT_EQ(cosine, nullptr);
  EXPECT_FALSE(math.loaded());
  EXPECT_NE(math.error().find("rovalink_absent"), std::string::npos) << math.error();
}

}  // namespace
}  // namespace rovalink::platform
