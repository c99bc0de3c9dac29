#include "web/pages/live_access.h"

#include <gtest/gtest.h>

#include <string>

namespace rovalink::web {
namespace {

struct AccessCase {
  const char* name;
  LiveAccessRequest request;
  bool passwordSet;
  int status;
};

class LiveAccessTest : public ::testing::TestWithParam<AccessCase> {};

// "spykee:secret" and "spykee:wrong".
constexpr const char* kGood = "Basic c3B5a2VlOnNlY3JldA==";
constexpr const char* kBad = "Basic c3B5a2VlOndyb25n";

TEST_P(LiveAccessTest, AnswersWithTheRightStatus) {
  LiveAccessConfig config{
      "spykee", GetParam().passwordSet ? "secret" : "", {"robot.home.lan"}, "gateway-pc"};
  EXPECT_EQ(CheckLiveAccess(GetParam().request, config).status(), GetParam().status);
}

// Each case: its name, {peer, Host, Origin, Referer, Authorization, changes state}, whether a
// password is set, the status.
constexpr const char* kLo = "127.0.0.1";
constexpr const char* kLoHost = "127.0.0.1:8029";
constexpr const char* kLan = "192.168.1.20";
constexpr const char* kEvil = "http://evil.example";
constexpr const char* kOwnPage = "http://127.0.0.1:8029/spykee/live";
constexpr const char* kLookalike = "http://127.0.0.1:8029.evil.example/";
const AccessCase kCases[] = {
    {"LoopbackWatches", {kLo, kLoHost, "", "", "", false}, false, 200},
    {"LoopbackV6Watches", {"::1", "[::1]:8029", "", "", "", false}, false, 200},
    {"LoopbackDrivesFromOwnPage",
     {kLo, "localhost:8029", "http://localhost:8029", "", "", true},
     false,
     200},
    {"RefererOfOwnPageDrives", {kLo, kLoHost, "", kOwnPage, "", true}, false, 200},
    {"ForeignOriginCannotDrive", {kLo, kLoHost, kEvil, "", "", true}, false, 403},
    {"OriginOfAnotherPortCannotDrive",
     {kLo, kLoHost, "http://127.0.0.1:8030", "", "", true},
     false,
     403},
    {"RefererLookalikeCannotDrive", {kLo, kLoHost, "", kLookalike, "", true}, false, 403},
    {"NoOriginNoRefererCannotDrive", {kLo, kLoHost, "", "", "", true}, false, 403},
    {"RebindingHostIsMisdirected",
     {kLo, "evil.example:8029", "http://evil.example:8029", "", "", true},
     false,
     421},
    {"ThisHostsNameServes", {kLo, "Gateway-PC:8029", "", "", "", false}, false, 200},
    {"ConfiguredHostServes", {kLan, "robot.home.lan.", "", "", kGood, false}, true, 200},
    {"RemoteWithoutPasswordSetIsOff", {kLan, "192.168.1.5", "", "", kGood, false}, false, 403},
    {"RemoteWithoutCredentials", {kLan, "192.168.1.5", "", "", "", false}, true, 401},
    {"RemoteWithWrongPassword", {kLan, "192.168.1.5", "", "", kBad, false}, true, 401},
    {"RemoteWithCredentialsWatches", {kLan, "192.168.1.5:8029", "", "", kGood, false}, true, 200},
    {"RemoteWithCredentialsButForeignOrigin",
     {kLan, "192.168.1.5:8029", kEvil, "", kGood, true},
     true,
     403},
    {"LoopbackLookalikeIsRemote", {"127.0.0.1.evil", kLoHost, "", "", "", false}, false, 403},
};

INSTANTIATE_TEST_SUITE_P(Table, LiveAccessTest, ::testing::ValuesIn(kCases),
                         [](const auto& tp) { return std::string(tp.param.name); });

}  // namespace
}  // namespace rovalink::web
