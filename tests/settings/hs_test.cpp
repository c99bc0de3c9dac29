#include "settings/hs.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "settings/recording_services.h"
#include "settings/test_folder.h"

namespace rovalink::settings {
namespace {

class Hs : public ::testing::Test {
 protected:
  testing::TestFolder folder;
  testing::RecordingServices services;
  hs settings{services};
};

TEST_F(Hs, ReadsAndSavesOnlyInTheSettingsFolder) {
  hs withoutAppFolder(services);
  settings.setAppPath(folder.path().string() + "//");
  EXPECT_EQ(settings.GetAppPath(), folder.path().string());
  testing::writeFile(folder.file("Config/settings.ini"), "stray=1\r\n[G]\r\nk=from settings\r\n");
  // The first read of a file names its ignored keys; later reads stay quiet.
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(settings.GetINISetting("g", "K", "d"), "from settings");
  EXPECT_EQ(settings.GetINISetting("g", "K", "d"), "from settings");
  const std::string warnings = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(std::count(warnings.begin(), warnings.end(), '\n'), 1) << warnings;
  EXPECT_NE(warnings.find("settings.ini line 1: \"stray\" is outside any section"),
            std::string::npos)
      << warnings;

  // A missing file is created; the other settings of an existing one stay.
  ASSERT_TRUE(settings.SaveIniSetting("SPYKEE", "password", "secret", "qbtRovalink.ini"));
  ASSERT_TRUE(settings.SaveIniSetting("spykee", "USERNAME", "admin", "qbtRovalink.ini"));
  EXPECT_EQ(settings.GetINISetting("Spykee", "UserName", "x", "qbtRovalink.ini"), "admin");
  EXPECT_EQ(settings.GetINISetting("Spykee", "password", "x", "qbtRovalink.ini"), "secret");

  // A file that cannot be loaded is not replaced by one holding only the new value, and without
  // an application folder nothing is read or written at the file-system root.
  std::filesystem::create_directories(folder.file("Config/taken.ini"));
  EXPECT_FALSE(settings.SaveIniSetting("G", "k", "v", "taken.ini"));
  EXPECT_TRUE(std::filesystem::is_directory(folder.file("Config/taken.ini")));
  EXPECT_EQ(withoutAppFolder.GetINISetting("G", "k", "d"), "d");
  EXPECT_FALSE(withoutAppFolder.SaveIniSetting("G", "k", "v", "rovalink-never.ini"));
  EXPECT_FALSE(std::filesystem::exists("/Config/rovalink-never.ini"));
  EXPECT_EQ(services.errors.size(), 2u);
}

// A parsed file is kept, yet a hand edit counts from the next read, even one that keeps the
// file's size.
TEST_F(Hs, AHandEditCountsFromTheNextRead) {
  settings.setAppPath(folder.path().string());
  const std::string path = folder.file("Config/qbtRovalink.ini");
  testing::writeFile(path, "[Web]\r\nUser=anna\r\n");
  // Long unchanged: a copy parsed now is kept.
  std::filesystem::last_write_time(
      path, std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));
  EXPECT_EQ(settings.GetINISetting("Web", "User", "", "qbtRovalink.ini"), "anna");
  testing::writeFile(path, "[Web]\r\nUser=bert\r\n");
  EXPECT_EQ(settings.GetINISetting("Web", "User", "", "qbtRovalink.ini"), "bert");
  std::filesystem::remove(path);
  EXPECT_EQ(settings.GetINISetting("Web", "User", "none", "qbtRovalink.ini"), "none");
}

// Saving the value a file already holds (as every start-up does with the user name) leaves the
// user's file, comments and all, and its backup alone.
TEST_F(Hs, AnUnchangedValueIsNotSaved) {
  settings.setAppPath(folder.path().string());
  const std::string own = "; my robot\r\n[Spykee]\r\nusername=pilot\r\n";
  testing::writeFile(folder.file("Config/qbtRovalink.ini"), own);
  ASSERT_TRUE(settings.SaveIniSetting("SPYKEE", "UserName", "pilot", "qbtRovalink.ini"));
  EXPECT_EQ(testing::readFile(folder.file("Config/qbtRovalink.ini")), own);
  EXPECT_FALSE(std::filesystem::exists(folder.file("Config/qbtRovalink.ini_bck")));
  ASSERT_TRUE(settings.SaveIniSetting("SPYKEE", "UserName", "bob", "qbtRovalink.ini"));
  EXPECT_EQ(testing::readFile(folder.file("Config/qbtRovalink.ini_bck")), own);
}

}  // namespace
}  // namespace rovalink::settings
