#include "xap/xap_helpers.h"

#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/sim/sim_platform.h"
#include "settings/hs.h"
#include "settings/test_folder.h"
#include "xap/packed_items.h"
#include "xap/recording_error_log.h"

namespace rovalink::xap {
namespace {

namespace fs = std::filesystem;
using rovalink::testing::readFile;
using rovalink::testing::writeFile;
using Texts = std::vector<std::string>;

TEST(ApplicationFolder, IsTheOptionElseTheVariableElseTheExecutablesFolder) {
  EXPECT_EQ(ApplicationFolder("/opt/a///", "/home/b", "/usr/bin/rovalink"), "/opt/a");
  EXPECT_EQ(ApplicationFolder("", "/home/b/", "/usr/bin/rovalink"), "/home/b");
  EXPECT_EQ(ApplicationFolder("", "", "/usr/local/bin/rovalink"), "/usr/local/bin");
  EXPECT_EQ(ApplicationFolder("", "", "/rovalink"), "/");
}

// The last element of the source: the Instance setting when usable, else the host name's first
// label, so neither a dotted host name nor a bad setting adds elements to the address.
TEST(InstanceName, IsTheInstanceSettingElseTheHostsFirstLabel) {
  for (const auto& [setting, host, expected] :
       std::vector<std::array<std::string, 3>>{{"", "vm.example.org", "vm"},
                                               {"", "DESKTOP-PC", "DESKTOP-PC"},
                                               {"Robot_2", "vm.example.org", "Robot_2"},
                                               {"", ".local", "Unknown"},
                                               {"", "", "Unknown"}}) {
    EXPECT_EQ(ChooseInstanceName(setting, host), expected) << setting << " " << host;
  }
  for (const std::string& unusable : Texts{"a.b", "x:y", "*", "two words", std::string(33, 'n')})
    EXPECT_EQ(ChooseInstanceName(unusable, "box"), "box") << unusable;
}

// Two instances on one bus must not share a UID; the default instance keeps FF.0065.
TEST(ProgramUid, IsTheUidSettingElseDerivedFromTheInstanceSettingElseFF0065) {
  for (const auto& [uid, instance, expected] : std::vector<std::array<std::string, 3>>{
           {"", "", "FF.0065:00"},
           {"", "two words", "FF.0065:00"},  // unusable: the default instance
           {"", "Kitchen", "FF.9148:00"},
           {"", "Garage", "FF.5828:00"},
           {"ff.1a2b", "Kitchen", "FF.1A2B:00"},
           {"FF.1A2B:00", "", "FF.1A2B:00"},
           {"FF.1A2B:05", "Kitchen", "FF.9148:00"},  // not the program's own sub-address
           {"FF.XYZW:00", "", "FF.0065:00"}}) {
    EXPECT_EQ(ChooseProgramUid(uid, instance), expected) << uid << " " << instance;
  }
}

class XapHelpersTest : public ::testing::Test {
 protected:
  XapHelpersTest() { sim.setLocalDateTime({2024, 3, 7, 9, 5, 2}); }
  bool init() {
    return helpers.InitXap({folder.path().string(), "", "/usr/bin/rovalink"}, settings);
  }
  std::string errorLog() const { return readFile(folder.file("Data/xapqbtSpykee.txt")); }

  platform::SimPlatform sim;
  rovalink::testing::TestFolder folder;
  XapHelpers helpers{sim.clock(), sim.host()};
  settings::hs settings{helpers};
  testing::RecordingSender sender;
};

TEST_F(XapHelpersTest, InitXapFixesThePathsMakesTheFoldersAndReadsTheInterfaceSettings) {
  ASSERT_TRUE(init());
  EXPECT_TRUE(fs::is_directory(folder.file("Config")) && fs::is_directory(folder.file("Data")));
  // The program file is the executable that runs, not a name below the application folder.
  EXPECT_EQ(settings.GetAppPath() + " " + helpers.ProgramFile(),
            folder.path().string() + " /usr/bin/rovalink");
  EXPECT_EQ(helpers.InterfaceAddress() + " " + helpers.BroadcastAddress(), "Default Default");
  EXPECT_EQ(helpers.XapSource() + " " + helpers.DefaultUID(), "qbt.Spykee.SIMHOST FF.0065:00");
  writeFile(folder.file("Config/qbtXap.ini"),
            "[interface]\r\ninterfaceaddress=192.168.1.20\r\nBroadcastAddress=192.168.1.255\r\n"
            "Instance=Kitchen\r\n");
  ASSERT_TRUE(init());
  EXPECT_EQ(helpers.InterfaceAddress() + " " + helpers.BroadcastAddress(),
            "192.168.1.20 192.168.1.255");
  EXPECT_EQ(helpers.XapSource() + " " + helpers.DefaultUID(), "qbt.Spykee.Kitchen FF.9148:00");
  // The settings report their failures to the program's error log.
  fs::create_directories(folder.file("Config/broken.ini"));
  EXPECT_FALSE(settings.SaveIniSetting("G", "k", "v", "broken.ini"));
  EXPECT_EQ(errorLog(), "2024/03/07 09:05:02 | xapqbtSpykee IniTool Load " +
                            folder.file("Config/broken.ini") + " 0 the path is a folder\r\n");
  // Folder creation works on absolute paths only, so a relative folder is anchored first.
  const auto previous = fs::current_path();
  fs::current_path(folder.path());
  const bool ok = helpers.InitXap({"", "home", "/usr/bin/rovalink"}, settings);
  helpers.CreateFolders("rel/inner/file.txt");
  fs::current_path(previous);
  ASSERT_TRUE(ok);
  EXPECT_EQ(helpers.AppFolder(), folder.file("home"));
  EXPECT_TRUE(fs::is_directory(folder.file("home/Config")));
  EXPECT_FALSE(fs::exists(folder.file("rel")));
}

TEST_F(XapHelpersTest, CreateFoldersMakesEveryFolderButTheLastElementAndStopsAtAFailure) {
  EXPECT_TRUE(helpers.CreateFolders(folder.file("a/b/file.txt")));
  EXPECT_TRUE(fs::is_directory(folder.file("a/b")) && !fs::exists(folder.file("a/b/file.txt")));
  writeFile(folder.file("plain"), "a file, not a folder");
  EXPECT_FALSE(helpers.CreateFolders(folder.file("plain/sub/deeper/file.txt")));
  EXPECT_FALSE(fs::exists(folder.file("plain/sub")));
  // The failure is an event; before the transport is ready it waits to be published.
  ASSERT_EQ(helpers.PendingMessages().size(), 1u);
  EXPECT_NE(helpers.PendingMessages().front().MsgData.find(std::string("Data\1 CreateFolders ") +
                                                           folder.file("plain") + " Line 0 "),
            std::string::npos);
}

// Messages wait for the transport to be ready and to have a sender, then go out oldest first
// ahead of the next send. One leaves the queue per send: a send made during the flush goes after
// the rest, and a failed send is logged while the rest still go out.
TEST_F(XapHelpersTest, PendingMessagesGoOutOldestFirstThroughFailuresAndNestedSends) {
  ASSERT_TRUE(init());
  helpers.SendXapMessage("t.a.b", "held.1", "s", PackItems({{"a", "1"}}), "sub", "");
  helpers.LogEvent("xapqbtSpykee", "Using xAP port 32768", "Address in use");
  EXPECT_EQ(helpers.HeldSender().SendXap("", "held.3", "s", "", "", "FF.0065:1A"), "");
  helpers.setXapReady(true);  // without a sender nothing can go out yet
  helpers.SendXapMessage("", "held.4", "s", "");
  helpers.setSender(&sender);
  EXPECT_TRUE(sender.sent.empty());  // nothing moves until the next send
  sender.onSend = [&](const std::string& cls) -> std::string {
    if (cls != "held.1") return "";
    helpers.SendXapMessage("", "nested", "s", "");
    return "0 boom";
  };
  helpers.SendXapMessage("", "now", "s", "");
  EXPECT_EQ(sender.sent, (Texts{"t.a.b|held.1|s|a=1|sub|FF.0065:00",
                                "|Homeseer.Event|Event.Log|Time=2024/03/07 09:05:02;Type="
                                "xapqbtSpykee;Data=Using xAP port 32768 Line 0 Address in use||"
                                "FF.0065:00",
                                "|held.3|s|||FF.0065:1A", "|held.4|s|||FF.0065:00",
                                "|now|s|||FF.0065:00", "|nested|s|||FF.0065:00"}));
  // The separators of the packed data are control characters: escaped in the log.
  EXPECT_EQ(errorLog(), "2024/03/07 09:05:02 | xapqbtSpykee SendXap  a\\x011 0 0 boom\r\n");
}

// Outside text cannot make a log line longer than 1 KiB nor break it; a flood of one error costs
// a line and a count per second; the file rolls over at 1 MiB, keeping one old file; a link in
// the log's place is not written through.
TEST_F(XapHelpersTest, TheErrorLogIsBoundedInLineSizeRepeatsAndFileSize) {
  ASSERT_TRUE(init());
  helpers.LogError("From XAP", "", std::string(5000, 'A') + "\r\nforged line");
  helpers.LogError("From XAP", "", "bad\x7f\n");
  for (int i = 0; i < 3; ++i) helpers.LogError("From XAP", "", "bad\x7f\n");
  sim.advanceMs(900);
  helpers.LogError("From XAP", "", "bad\x7f\n");  // still within a second of the written one
  helpers.LogError("x", "y");
  sim.advanceMs(1000);
  helpers.LogError("x", "y");  // a second later: written again
  const std::string stamp = "2024/03/07 09:05:02 | ";
  const std::string first = stamp + "From XAP  0 " + std::string(1024 - 2 - 3 - 34, 'A') + "...";
  ASSERT_EQ(first.size(), 1022u);
  EXPECT_EQ(errorLog(), first + "\r\n" + stamp + "From XAP  0 bad\\x7F\\x0A\r\n" + stamp +
                            "last line repeated 4 times\r\n" + stamp + "x y 0 \r\n" +
                            "2024/03/07 09:05:03 | x y 0 \r\n");

  for (int i = 0; i < 1100; ++i)
    helpers.LogError("flood", std::to_string(i), std::string(1000, 'z'));
  const std::string older = readFile(folder.file("Data/xapqbtSpykee.1.txt"));
  EXPECT_GT(older.size(), 1000000u);
  EXPECT_LE(older.size(), 1048576u);
  EXPECT_LT(errorLog().size(), 200000u);
  EXPECT_NE(errorLog().find("flood 1099 0 zzz"), std::string::npos);

  writeFile(folder.file("victim"), "keep");
  fs::remove(folder.file("Data/xapqbtSpykee.txt"));
  fs::create_symlink(folder.file("victim"), folder.file("Data/xapqbtSpykee.txt"));
  helpers.LogError("through", "a link");
  EXPECT_EQ(readFile(folder.file("victim")), "keep");
}

// Events carry at most 1 KiB of data without control characters, and a burst of one event goes
// out once, its count with the next event.
TEST_F(XapHelpersTest, EventsAreBoundedAndARepeatedOneIsSentOnceWithACount) {
  ASSERT_TRUE(init());
  helpers.setSender(&sender);
  helpers.setXapReady(true);
  for (int i = 0; i < 50; ++i) helpers.LogEvent("IniTool", "stray\tline");
  sim.advanceMs(999);
  helpers.LogEvent("IniTool", "stray\tline");
  helpers.LogEvent("xapqbtSpykee", std::string(3000, 'B'));
  const std::string head = "|Homeseer.Event|Event.Log|Time=2024/03/07 09:05:02;Type=";
  ASSERT_EQ(sender.sent.size(), 3u);
  EXPECT_EQ(sender.sent[0], head + "IniTool;Data=stray\\x09line||FF.0065:00");
  EXPECT_EQ(sender.sent[1], head + "IniTool;Data=last event repeated 50 times||FF.0065:00");
  EXPECT_EQ(sender.sent[2],
            head + "xapqbtSpykee;Data=" + std::string(1021, 'B') + "...||FF.0065:00");
}

}  // namespace
}  // namespace rovalink::xap
