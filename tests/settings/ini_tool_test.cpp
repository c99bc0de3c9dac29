#include "settings/ini_tool.h"

#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "settings/recording_services.h"
#include "settings/test_folder.h"

namespace rovalink::settings {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::writeFile;
using Names = std::vector<std::string>;

class IniToolTest : public ::testing::Test {
 protected:
  std::string iniPath() const { return m_folder.file("Config/test.ini"); }
  IniTool& loaded(const std::string& content) {
    writeFile(iniPath(), content);
    EXPECT_TRUE(m_store.Load(iniPath()));
    return m_store;
  }

  testing::TestFolder m_folder;
  testing::RecordingServices m_services;
  IniTool m_store{m_services};
};

TEST_F(IniToolTest, ReadsNamesCaseBlindAndTheFirstValueWins) {
  const IniTool& store = loaded(
      "top=1\r\n[Spykee]\r\nusername=p\r\nk=first\r\nK=second\r\n k = 8 \r\nurl=a=b\r\nempty=\r\n"
      ";c=1\r\n  stray  \r\n[\xC9t\xE9]\r\ncl\xE9=1\n[ My Sect ]\nk=1\n[SPYKEE]\nk=third\nhost=h");
  // Blanks next to "=" belong to the key and the value; an empty value reads as the default.
  for (const auto& [section, key, value] :
       std::vector<std::array<const char*, 3>>{{"", "top", "1"},
                                               {"SPYKEE", "UserName", "p"},
                                               {"spykee", "k", "first"},
                                               {"spykee", "host", "h"},
                                               {"spykee", "k ", " 8"},
                                               {"spykee", "URL", "a=b"},
                                               {"spykee", "empty", "D"},
                                               {"spykee", ";c", "D"},
                                               {"\xE9T\xC9", "CL\xC9", "1"},
                                               {" my sect ", "k", "1"},
                                               {"my sect", "k", "D"}}) {
    EXPECT_EQ(store.Read(section, key, "D"), value) << section << "/" << key;
  }
  ASSERT_EQ(m_services.events.size(), 1u);
  EXPECT_EQ(m_services.events[0].second, " Equal sign not found on line stray");
}

// A line is quoted short and escaped; after ten such lines the rest are counted in one event.
// A file over 1 MiB is not loaded at all.
TEST_F(IniToolTest, JunkLinesAndOutsizedFilesCostOneEventOrErrorEach) {
  std::string junk = std::string(200, 'J') + "\r\n" + "no\x1b[2Jvalue\r\n[S]\r\nk=v\r\n";
  for (int i = 0; i < 1000; ++i) junk += "junk\r\n";
  EXPECT_EQ(loaded(junk).Read("S", "k", "d"), "v");
  ASSERT_EQ(m_services.events.size(), 11u);
  EXPECT_EQ(m_services.events[0].second,
            " Equal sign not found on line " + std::string(77, 'J') + "...");
  EXPECT_EQ(m_services.events[1].second, " Equal sign not found on line no\\x1B[2Jvalue");
  EXPECT_EQ(m_services.events[10].second,
            " Equal sign not found on 992 more lines of " + iniPath());

  writeFile(iniPath(), "[S]\r\nk=v\r\n;" + std::string(IniTool::kMaxFileBytes, 'x'));
  EXPECT_FALSE(m_store.Load(iniPath()));
  EXPECT_EQ(m_store.Read("S", "k", "d"), "d");
  ASSERT_EQ(m_services.errors.size(), 1u);
  EXPECT_EQ(m_services.errors[0].description, "file larger than 1048576 bytes");
}

TEST_F(IniToolTest, SaveWritesSortedUpperCaseCrLfTextAndKeepsTheOldFileAsBackup) {
  const std::string before =
      ";secret=1\n[b]\nz=1\na=b~a\nq=0\n\n[Empty]\n  ; note\n[A]\n k = 3 \n[]\nx=4\n[Gone]\ng=1\n";
  const std::string longSection(300, 'S'), longKey(200, 'K');
  IniTool& store = loaded(before);
  store.WriteKey("B", "Z", "2");
  store.WriteKey(longSection, longKey, "v");
  store.Remove("b", "Q");
  store.RemoveSection("gone");
  EXPECT_EQ(store.Headers(), (Names{"b", "Empty", "A", "", "Gone", longSection}));
  EXPECT_EQ(store.Keys("B"), (Names{"Z", "A"}));
  EXPECT_EQ(store.Keys("empty"), Names{""});
  ASSERT_TRUE(store.Save());
  EXPECT_EQ(readFile(iniPath()), "X=4\r\n[A]\r\nK = 3\r\n[B]\r\nA=b~a\r\nZ=2\r\n[" + longSection +
                                     "]\r\n" + longKey + "=v\r\n");
  EXPECT_EQ(readFile(iniPath() + "_bck"), before);
  ASSERT_TRUE(store.Load(iniPath()));
  EXPECT_EQ(store.Read(longSection, longKey, "missing"), "v");
}

// Pattern characters in a section name match only themselves; a name never matches a longer one.
TEST_F(IniToolTest, KeysMatchesTheSectionNameLiterally) {
  IniTool& store = loaded(
      "[AXB]\r\nx=1\r\n[A.B]\r\ndot=1\r\n[A(B]\r\nparen=1\r\n[A]\r\nplain=1\r\n[AB]\r\n"
      "longer=1\r\n[A*]\r\nstar=1\r\n");
  for (const auto& [asked, key] : std::vector<std::array<const char*, 2>>{
           {"A.B", "DOT"}, {"a(b", "PAREN"}, {"A*", "STAR"}, {"A", "PLAIN"}, {"A?", ""}}) {
    EXPECT_EQ(store.Keys(asked), Names{key}) << asked;
  }
}

// A save that fails half-way (here: a full disk) leaves the previous file whole and only the
// partial temporary file is removed. A link planted where the backup goes is replaced, never
// written through.
TEST_F(IniToolTest, FailedSaveLeavesPreviousFileWholeAndNoSaveWritesThroughALink) {
  const std::string before = "[S]\r\nk=1\r\nother=2\r\n";
  writeFile(iniPath(), before);
  std::string tempPath;
  IniTool store(m_services, [&](const std::string& path, std::string_view content, std::string& e) {
    tempPath = path;
    writeFile(path, std::string(content.substr(0, content.size() / 2)));
    e = "No space left on device";
    return false;
  });
  ASSERT_TRUE(store.Load(iniPath()));
  store.WriteKey("S", "k", "changed");
  EXPECT_FALSE(store.Save());
  EXPECT_EQ(readFile(iniPath()), before);
  EXPECT_EQ(fs::path(tempPath).parent_path(), fs::path(iniPath()).parent_path());
  EXPECT_FALSE(fs::exists(tempPath));
  ASSERT_EQ(m_services.errors.size(), 1u);
  EXPECT_EQ(m_services.errors[0].second, "IniTool Save " + iniPath());
  EXPECT_EQ(m_services.errors[0].description, "No space left on device");

  const std::string victim = m_folder.file("victim");
  writeFile(victim, "keep");
  fs::create_symlink(victim, iniPath() + "_bck");
  loaded(before).WriteKey("S", "k", "changed");
  ASSERT_TRUE(m_store.Save());
  EXPECT_EQ(readFile(victim), "keep");
  EXPECT_EQ(readFile(iniPath() + "_bck"), before);
  EXPECT_EQ(readFile(iniPath()), "[S]\r\nK=changed\r\nOTHER=2\r\n");
}

}  // namespace
}  // namespace rovalink::settings
