#include "xap/xap_helpers.h"

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "settings/hs.h"
#include "settings/test_folder.h"

namespace rovalink::xap {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::TestFolder;
using testing::writeFile;

class FixedClock : public platform::Clock {
 public:
  double timeOfDay() const override {
    return m_now.hour * 3600.0 + m_now.minute * 60.0 + m_now.second;
  }
  platform::LocalDateTime localNow() const override { return m_now; }
  void set(platform::LocalDateTime now) { m_now = now; }

 private:
  platform::LocalDateTime m_now{2024, 3, 7, 9, 5, 2};
};

class CountingHost : public platform::HostInfo {
 public:
  std::string computerName() const override {
    ++calls;
    return "ROBOTPC";
  }
  std::vector<std::string> ipv4Addresses() const override { return {"127.0.0.1"}; }
  mutable int calls = 0;
};

struct FolderCase {
  const char* name;
  const char* option;
  const char* home;
  const char* executable;
  const char* expected;
};

class ApplicationFolderChoice : public ::testing::TestWithParam<FolderCase> {};

TEST_P(ApplicationFolderChoice, PrefersOptionThenVariableThenExecutableFolder) {
  const FolderCase& c = GetParam();
  EXPECT_EQ(ApplicationFolder(c.option, c.home, c.executable), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, ApplicationFolderChoice,
    ::testing::Values(
        FolderCase{"OptionWins", "/opt/a", "/home/b", "/usr/bin/rovalink", "/opt/a"},
        FolderCase{"VariableWithoutOption", "", "/home/b/", "/usr/bin/rovalink", "/home/b"},
        FolderCase{"ExecutableFolderLast", "", "", "/usr/local/bin/rovalink", "/usr/local/bin"},
        FolderCase{"ExecutableAtRoot", "", "", "/rovalink", "/"},
        FolderCase{"TrailingSeparatorsDropped", "/opt/a///", "", "/x/y", "/opt/a"}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST(AppLayout, NamesTheFoldersBelowTheApplicationFolder) {
  const AppLayout layout("/srv/rl/");
  EXPECT_EQ(layout.appFolder, "/srv/rl");
  EXPECT_EQ(layout.configFolder, "/srv/rl/Config");
  EXPECT_EQ(layout.dataFolder, "/srv/rl/Data");
  EXPECT_EQ(layout.programDataFolder, "/srv/rl/Data/xapqbtSpykee");
  EXPECT_EQ(layout.htmlFolder, "/srv/rl/html");
  EXPECT_EQ(layout.errorLogFile, "/srv/rl/Data/xapqbtSpykee.txt");
  EXPECT_EQ(ProgramFilePath("/srv/rl", "/usr/bin/rovalink"), "/srv/rl/rovalink");
}

struct LineCase {
  const char* name;
  platform::LocalDateTime now;
  const char* description;
  const char* expected;
};

class ErrorLogLine : public ::testing::TestWithParam<LineCase> {};

TEST_P(ErrorLogLine, HasStampTextsLineNumberAndDescription) {
  const LineCase& c = GetParam();
  EXPECT_EQ(FormatErrorLogLine(c.now, "xapqbtSpykee", "Main Load", c.description), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ErrorLogLine,
    ::testing::Values(LineCase{"NoPendingErrorEndsInZeroAndBlank",
                               {2024, 3, 7, 9, 5, 2},
                               "",
                               "2024/03/07 09:05:02 | xapqbtSpykee Main Load 0 "},
                      LineCase{"DescriptionFollowsLineNumber",
                               {1999, 12, 31, 23, 59, 59},
                               "Overflow",
                               "1999/12/31 23:59:59 | xapqbtSpykee Main Load 0 Overflow"},
                      LineCase{"TwentyFourHourClock",
                               {2030, 1, 1, 13, 0, 0},
                               "",
                               "2030/01/01 13:00:00 | xapqbtSpykee Main Load 0 "}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

class XapHelpersTest : public ::testing::Test {
 protected:
  LaunchLocation launchInFolder() const {
    return LaunchLocation{m_folder.path().string(), "", "/usr/bin/rovalink"};
  }

  TestFolder m_folder;
  FixedClock m_clock;
  CountingHost m_host;
  XapHelpers m_helpers{m_clock, m_host};
  settings::hs m_settings{m_helpers};
};

TEST_F(XapHelpersTest, InitXapCreatesConfigAndDataAndFixesPaths) {
  ASSERT_TRUE(m_helpers.InitXap(launchInFolder(), m_settings));
  EXPECT_TRUE(fs::is_directory(m_folder.file("Config")));
  EXPECT_TRUE(fs::is_directory(m_folder.file("Data")));
  EXPECT_FALSE(fs::exists(m_folder.file("Config/x")));
  EXPECT_FALSE(fs::exists(m_folder.file("Data/x")));
  EXPECT_EQ(m_helpers.AppFolder(), m_folder.path().string());
  EXPECT_EQ(m_settings.GetAppPath(), m_folder.path().string());
  EXPECT_EQ(m_helpers.ProgramFile(), m_folder.file("rovalink"));
  EXPECT_EQ(m_helpers.ComputerName(), "ROBOTPC");
  EXPECT_EQ(m_helpers.DefaultUID(), "FF.0065:00");
}

TEST_F(XapHelpersTest, InitXapReadsInterfaceSettings) {
  writeFile(m_folder.file("Config/qbtXap.ini"),
            "[interface]\r\ninterfaceaddress=192.168.1.20\r\nBroadcastAddress=192.168.1.255\r\n");
  ASSERT_TRUE(m_helpers.InitXap(launchInFolder(), m_settings));
  EXPECT_EQ(m_helpers.InterfaceAddress(), "192.168.1.20");
  EXPECT_EQ(m_helpers.BroadcastAddress(), "192.168.1.255");
}

TEST_F(XapHelpersTest, InitXapDefaultsInterfaceSettings) {
  ASSERT_TRUE(m_helpers.InitXap(launchInFolder(), m_settings));
  EXPECT_EQ(m_helpers.InterfaceAddress(), "Default");
  EXPECT_EQ(m_helpers.BroadcastAddress(), "Default");
}

TEST_F(XapHelpersTest, InitXapAnchorsRelativeFolderAtWorkingFolder) {
  const auto previous = fs::current_path();
  fs::current_path(m_folder.path());
  const bool ok = m_helpers.InitXap(LaunchLocation{"", "home", "/usr/bin/rovalink"}, m_settings);
  fs::current_path(previous);
  ASSERT_TRUE(ok);
  EXPECT_EQ(m_helpers.AppFolder(), m_folder.file("home"));
  EXPECT_TRUE(fs::is_directory(m_folder.file("home/Config")));
}

TEST_F(XapHelpersTest, ComputerNameIsAskedOnce) {
  EXPECT_EQ(m_helpers.ComputerName(), "ROBOTPC");
  ASSERT_TRUE(m_helpers.InitXap(launchInFolder(), m_settings));
  EXPECT_EQ(m_helpers.ComputerName(), "ROBOTPC");
  EXPECT_EQ(m_host.calls, 1);
}

TEST_F(XapHelpersTest, LogErrorAppendsOneCrLfLinePerCall) {
  ASSERT_TRUE(m_helpers.InitXap(launchInFolder(), m_settings));
  m_helpers.LogError("xapqbtSpykee", "Main Load");
  m_clock.set({2024, 3, 7, 21, 40, 9});
  m_helpers.LogError("GetItem", "Main OnMessage", "Subscript out of range");
  EXPECT_EQ(readFile(m_folder.file("Data/xapqbtSpykee.txt")),
            "2024/03/07 09:05:02 | xapqbtSpykee Main Load 0 \r\n"
            "2024/03/07 21:40:09 | GetItem Main OnMessage 0 Subscript out of range\r\n");
}

TEST_F(XapHelpersTest, IniSaveFailureLandsInErrorLog) {
  ASSERT_TRUE(m_helpers.InitXap(launchInFolder(), m_settings));
  fs::create_directories(m_folder.file("Config/broken.ini"));
  EXPECT_FALSE(m_settings.SaveIniSetting("G", "k", "v", "broken.ini"));
  const std::string log = readFile(m_folder.file("Data/xapqbtSpykee.txt"));
  EXPECT_NE(log.find("| xapqbtSpykee IniTool Load " + m_folder.file("Config/broken.ini") + " 0 "),
            std::string::npos)
      << log;
}

TEST_F(XapHelpersTest, CreateFoldersMakesEveryFolderButTheLastElement) {
  const std::string path = m_folder.file("a/b/file.txt");
  EXPECT_TRUE(m_helpers.CreateFolders(path));
  EXPECT_TRUE(fs::is_directory(m_folder.file("a")));
  EXPECT_TRUE(fs::is_directory(m_folder.file("a/b")));
  EXPECT_FALSE(fs::exists(path));
}

TEST_F(XapHelpersTest, CreateFoldersIgnoresRelativePath) {
  const auto previous = fs::current_path();
  fs::current_path(m_folder.path());
  m_helpers.CreateFolders("rel/inner/file.txt");
  fs::current_path(previous);
  EXPECT_FALSE(fs::exists(m_folder.file("rel")));
}

TEST_F(XapHelpersTest, CreateFoldersStopsAtFolderItCannotMake) {
  writeFile(m_folder.file("plain"), "a file, not a folder");
  EXPECT_FALSE(m_helpers.CreateFolders(m_folder.file("plain/sub/deeper/file.txt")));
  EXPECT_FALSE(fs::exists(m_folder.file("plain/sub")));
  // The failure is an event; before the transport is ready it waits to be published.
  ASSERT_EQ(m_helpers.PendingMessages().size(), 1u);
  const std::string& data = m_helpers.PendingMessages().front().MsgData;
  EXPECT_NE(data.find(std::string("Type\1xapqbtSpykee\0Data\1 CreateFolders ", 38) +
                      m_folder.file("plain") + " Line 0 "),
            std::string::npos)
      << data;
}

}  // namespace
}  // namespace rovalink::xap
