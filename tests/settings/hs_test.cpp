#include "settings/hs.h"

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "settings/recording_services.h"
#include "settings/test_folder.h"

namespace rovalink::settings {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::RecordingServices;
using testing::TestFolder;
using testing::writeFile;

class HsTest : public ::testing::Test {
 protected:
  HsTest() { m_settings.setAppPath(m_folder.path().string()); }

  std::string configFile(const std::string& name) const { return m_folder.file("Config/" + name); }

  TestFolder m_folder;
  RecordingServices m_services;
  hs m_settings{m_services};
};

TEST_F(HsTest, ReadsFromNamedFileInSettingsFolder) {
  writeFile(configFile("qbtXap.ini"), "[Interface]\r\nInterfaceAddress=10.0.0.2\r\n");
  EXPECT_EQ(m_settings.GetINISetting("interface", "interfaceaddress", "Default", "qbtXap.ini"),
            "10.0.0.2");
}

TEST_F(HsTest, EmptyFileNameReadsSettingsIni) {
  writeFile(configFile("settings.ini"), "[G]\r\nk=from settings\r\n");
  EXPECT_EQ(m_settings.GetINISetting("G", "k", "d", ""), "from settings");
  EXPECT_EQ(m_settings.GetINISetting("G", "k", "d"), "from settings");
}

TEST_F(HsTest, FileOutsideSettingsFolderIsNotRead) {
  writeFile(m_folder.file("elsewhere.ini"), "[G]\r\nk=outside\r\n");
  EXPECT_EQ(m_settings.GetINISetting("G", "k", "d", "elsewhere.ini"), "d");
  EXPECT_FALSE(fs::exists(configFile("elsewhere.ini")));
}

TEST_F(HsTest, SavedValueIsReadBackByNextCall) {
  ASSERT_TRUE(m_settings.SaveIniSetting("SPYKEE", "username", "pilot", "qbtRovalink.ini"));
  EXPECT_EQ(m_settings.GetINISetting("Spykee", "UserName", "x", "qbtRovalink.ini"), "pilot");
  ASSERT_TRUE(m_settings.SaveIniSetting("SPYKEE", "username", "admin", "qbtRovalink.ini"));
  EXPECT_EQ(m_settings.GetINISetting("Spykee", "UserName", "x", "qbtRovalink.ini"), "admin");
  EXPECT_EQ(readFile(configFile("qbtRovalink.ini")), "[SPYKEE]\r\nUSERNAME=admin\r\n");
}

TEST_F(HsTest, SaveKeepsOtherSettingsOfTheFile) {
  writeFile(configFile("qbtRovalink.ini"), "[SPYKEE]\r\npassword=secret\r\n");
  ASSERT_TRUE(m_settings.SaveIniSetting("SPYKEE", "username", "pilot", "qbtRovalink.ini"));
  EXPECT_EQ(m_settings.GetINISetting("SPYKEE", "password", "x", "qbtRovalink.ini"), "secret");
}

// A file that cannot be loaded must not be replaced by one holding only the new value.
TEST_F(HsTest, SaveToUnreadableFileChangesNothing) {
  fs::create_directories(configFile("taken.ini"));
  EXPECT_FALSE(m_settings.SaveIniSetting("G", "k", "v", "taken.ini"));
  EXPECT_TRUE(fs::is_directory(configFile("taken.ini")));
  EXPECT_FALSE(m_services.errors.empty());
}

TEST_F(HsTest, AppPathHasNoTrailingSeparator) {
  m_settings.setAppPath(m_folder.path().string() + "//");
  EXPECT_EQ(m_settings.GetAppPath(), m_folder.path().string());
}

TEST(HsWithoutAppFolder, NeitherReadsNorWritesAtTheFileSystemRoot) {
  RecordingServices services;
  hs settings(services);
  EXPECT_EQ(settings.GetINISetting("G", "k", "d", "rovalink-never.ini"), "d");
  EXPECT_FALSE(settings.SaveIniSetting("G", "k", "v", "rovalink-never.ini"));
  EXPECT_FALSE(fs::exists("/Config/rovalink-never.ini"));
  EXPECT_EQ(services.errors.size(), 1u);
}

TEST(HsVersion, IsThreeDecimalNumbersFromTheBuild) {
  RecordingServices services;
  const std::string expected = std::to_string(ROVALINK_VERSION_MAJOR) + "." +
                               std::to_string(ROVALINK_VERSION_MINOR) + "." +
                               std::to_string(ROVALINK_VERSION_PATCH);
  EXPECT_EQ(hs(services).Version(), expected);
  EXPECT_EQ(hs(services).SystemUpTime(), "");
}

}  // namespace
}  // namespace rovalink::settings
