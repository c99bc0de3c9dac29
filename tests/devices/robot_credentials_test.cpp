#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "devices/device_table.h"
#include "settings/hs.h"
#include "settings/services.h"

namespace rovalink::devices {
namespace {

namespace fs = std::filesystem;

class RecordingServices : public settings::Services {
 public:
  void LogError(const std::string& first, const std::string& second,
                const std::string& description) override {
    errors.push_back(first + " " + second + " " + description);
  }
  void LogEvent(const std::string& type, const std::string& data,
                const std::string& description) override {
    events.push_back(type + " " + data + " " + description);
  }
  bool CreateFolders(const std::string&) override { return true; }

  std::vector<std::string> errors;
  std::vector<std::string> events;
};

class RobotCredentialsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "rovalink-cred-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    m_appFolder = pattern;
    fs::create_directories(fs::path(m_appFolder) / "Config");
    m_settings.setAppPath(m_appFolder);
  }
  void TearDown() override { fs::remove_all(m_appFolder); }

  void writeIni(const std::string& text) {
    std::ofstream(fs::path(m_appFolder) / "Config" / "qbtRovalink.ini", std::ios::binary) << text;
  }

  RecordingServices m_services;
  settings::hs m_settings{m_services};
  std::string m_appFolder;
};

TEST_F(RobotCredentialsTest, DefaultsApplyWithoutASettingsFile) {
  const RobotCredentials credentials = ReadRobotCredentials(m_settings);
  EXPECT_EQ(credentials.RobotUserName, "admin");
  EXPECT_EQ(credentials.RobotPassword, "kelpo");
}

TEST_F(RobotCredentialsTest, ValuesComeFromTheSpykeeSection) {
  writeIni("[Other]\r\nusername=wrong\r\n[SPYKEE]\r\nusername=robbie\r\npassword=s3cret\r\n");
  const RobotCredentials credentials = ReadRobotCredentials(m_settings);
  EXPECT_EQ(credentials.RobotUserName, "robbie");
  EXPECT_EQ(credentials.RobotPassword, "s3cret");
}

TEST_F(RobotCredentialsTest, AMissingKeyKeepsItsDefault) {
  writeIni("[spykee]\r\npassword=only\r\n");
  const RobotCredentials credentials = ReadRobotCredentials(m_settings);
  EXPECT_EQ(credentials.RobotUserName, "admin");
  EXPECT_EQ(credentials.RobotPassword, "only");
}

}  // namespace
}  // namespace rovalink::devices
