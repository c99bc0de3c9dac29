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

// peer, Host, Origin, Referer, Authorization, changes state.
INSTANTIATE_TEST_SUITE_P(
    Table, LiveAccessTest,
    ::testing::Values(
        AccessCase{
            "LoopbackWatches", {"127.0.0.1", "127.0.0.1:8029", "", "", "", false}, false, 200},
        AccessCase{"LoopbackV6Watches", {"::1", "[::1]:8029", "", "", "", false}, false, 200},
        AccessCase{"LoopbackDrivesFromOwnPage",
                   {"127.0.0.1", "localhost:8029", "http://localhost:8029", "", "", true},
                   false,
                   200},
        AccessCase{
            "RefererOfOwnPageDrives",
            {"127.0.0.1", "127.0.0.1:8029", "", "http://127.0.0.1:8029/spykee/live", "", true},
            false,
            200},
        AccessCase{"ForeignOriginCannotDrive",
                   {"127.0.0.1", "127.0.0.1:8029", "http://evil.example", "", "", true},
                   false,
                   403},
        AccessCase{"OriginOfAnotherPortCannotDrive",
                   {"127.0.0.1", "127.0.0.1:8029", "http://127.0.0.1:8030", "", "", true},
                   false,
                   403},
        AccessCase{
            "RefererLookalikeCannotDrive",
            {"127.0.0.1", "127.0.0.1:8029", "", "http://127.0.0.1:8029.evil.example/", "", true},
            false,
            403},
        AccessCase{"NoOriginNoRefererCannotDrive",
                   {"127.0.0.1", "127.0.0.1:8029", "", "", "", true},
                   false,
                   403},
        AccessCase{"RebindingHostIsMisdirected",
                   {"127.0.0.1", "evil.example:8029", "http://evil.example:8029", "", "", true},
                   false,
                   421},
        AccessCase{
            "ThisHostsNameServes", {"127.0.0.1", "Gateway-PC:8029", "", "", "", false}, false, 200},
        AccessCase{"ConfiguredHostServes",
                   {"192.168.1.20", "robot.home.lan.", "", "", kGood, false},
                   true,
                   200},
        AccessCase{"RemoteWithoutPasswordSetIsOff",
                   {"192.168.1.20", "192.168.1.5", "", "", kGood, false},
                   false,
                   403},
        AccessCase{"RemoteWithoutCredentials",
                   {"192.168.1.20", "192.168.1.5", "", "", "", false},
                   true,
                   401},
        AccessCase{"RemoteWithWrongPassword",
                   {"192.168.1.20", "192.168.1.5", "", "", kBad, false},
                   true,
                   401},
        AccessCase{"RemoteWithCredentialsWatches",
                   {"192.168.1.20", "192.168.1.5:8029", "", "", kGood, false},
                   true,
                   200},
        AccessCase{"RemoteWithCredentialsButForeignOrigin",
                   {"192.168.1.20", "192.168.1.5:8029", "http://evil.example", "", kGood, true},
                   true,
                   403},
        AccessCase{"LoopbackLookalikeIsRemote",
                   {"127.0.0.1.evil", "127.0.0.1:8029", "", "", "", false},
                   false,
                   403}),
    [](const ::testing::TestParamInfo<AccessCase>& tp) { return std::string(tp.param.name); });

}  // namespace
}  // namespace rovalink::web
