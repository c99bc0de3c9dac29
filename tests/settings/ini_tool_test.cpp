#include "settings/ini_tool.h"

#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "settings/known_settings.h"
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
      "\xEF\xBB\xBF[Spykee]\r\nusername=p\r\nk=first\r\nK=second\r\n RobotPort =\t9100 \r\n"
      "url=a=b\r\nempty=\r\nquoted=\"  a \"\r\n;c=1\r\n  stray  \r\n[\xC9t\xE9]\r\ncl\xE9=1\n"
      "[ My Sect ]\nk=1\n[SPYKEE]\nk=third\nhost=h\n[MQTT] ; broker\nHost=m");
  // Blanks around names and values do not count, quotes keep them; an empty value reads as the
  // default.
  for (const auto& [section, key, value] :
       std::vector<std::array<const char*, 3>>{{"SPYKEE", "UserName", "p"},
                                               {"spykee", "k", "first"},
                                               {"spykee", "host", "h"},
                                               {"spykee", "robotport", "9100"},
                                               {"spykee", "URL", "a=b"},
                                               {"spykee", "quoted", "  a "},
                                               {"spykee", "empty", "D"},
                                               {"spykee", ";c", "D"},
                                               {"\xE9T\xC9", "CL\xC9", "1"},
                                               {" my sect ", "k", "1"},
                                               {"mqtt", "host", "m"}}) {
    EXPECT_EQ(store.Read(section, key, "D"), value) << section << "/" << key;
  }
  ASSERT_EQ(m_services.events.size(), 1u);
  EXPECT_EQ(m_services.events[0].second, " Equal sign not found on line stray");
}

// Keys the program never reads are named with file and line: outside any section anywhere, not
// listed in a section of the program's own files; other programs' files make no noise.
TEST_F(IniToolTest, ReportsEachIgnoredKeyOfTheProgramsOwnFiles) {
  const std::string text =
      "RobotPort=1\r\n[spykee]\r\n; RobotPrt=2\r\nRobotPrt=2\r\nrobotport = 3\r\n[PageScroll]\r\n"
      "Text1=a\r\n[Settings]\r\nlogoShowClock=Yes\r\n";
  for (const auto& [file, expected] : std::vector<std::pair<std::string, Names>>{
           {"qbtRovalink.ini",
            {"/qbtRovalink.ini line 1: \"RobotPort\" is outside any section; it is ignored",
             "/qbtRovalink.ini line 4: \"RobotPrt\" is no setting of [SPYKEE]; it is ignored",
             "/qbtRovalink.ini line 9: \"logoShowClock\" is no setting of [Settings]; it is "
             "ignored"}},
           {"includes.ini",
            {"/includes.ini line 1: \"RobotPort\" is outside any section; it is ignored"}}}) {
    writeFile(m_folder.file(file), text);
    ASSERT_TRUE(m_store.Load(m_folder.file(file)));
    Names report = UnknownSettings(m_store);
    for (auto& line : report) line.erase(0, m_folder.path().string().size());
    EXPECT_EQ(report, expected);
  }
  std::string many = "[Interface]\r\n";
  for (int i = 0; i < 12; ++i) many += "Bad" + std::to_string(i) + "=1\r\n";
  writeFile(m_folder.file("qbtXap.ini"), many);
  ASSERT_TRUE(m_store.Load(m_folder.file("qbtXap.ini")));
  const Names report = UnknownSettings(m_store);
  ASSERT_EQ(report.size(), 11u);
  EXPECT_EQ(report[10], m_folder.file("qbtXap.ini") + ": 2 more keys are ignored");
  // The example files shipped for users read as they stand, without a word.
  for (const char* example : {"qbtRovalink.ini", "qbtXap.ini"}) {
    ASSERT_TRUE(m_store.Load(std::string(ROVALINK_SOURCE_DIR "/packaging/examples/") + example));
    EXPECT_EQ(UnknownSettings(m_store), Names{}) << example;
  }
  EXPECT_EQ(m_store.Read("Interface", "BusPort", ""), "3639");
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

// Saving changes one line in place or adds one where the profile API would; every other byte
// (comments, order, letter case, blank lines, byte order mark, line ends) stays.
TEST_F(IniToolTest, SaveChangesOnlyTheKeysLineAndKeepsTheOldFileAsBackup) {
  struct Case {
    std::string before;
    const char *section, *key, *value;  // value nullptr: Remove
    std::string after;
  };
  for (const auto& [before, section, key, value, after] : std::vector<Case>{
           {"; robot\r\n[Spykee]\r\n  UserName = pilot  \r\n\r\n[b]\r\nx=1\r\n", "SPYKEE",
            "username", "bob", "; robot\r\n[Spykee]\r\n  UserName = bob\r\n\r\n[b]\r\nx=1\r\n"},
           {"[a]\nk=1\n; note\n\n[b]\nz=2\n", "A", "New", "v",
            "[a]\nk=1\nNew=v\n; note\n\n[b]\nz=2\n"},
           {"\xEF\xBB\xBF[S]\r\n; only notes\r\n", "s", "k", "v",
            "\xEF\xBB\xBF[S]\r\nk=v\r\n; only notes\r\n"},
           {"[a]\nk=1", "Net", "Port", "1", "[a]\nk=1\n[Net]\nPort=1\n"},
           {"", "Net", "Port", "1", "[Net]\r\nPort=1\r\n"},
           {"[s]\nk=1\n[t]\n[S]\nk=2\nj=3\n", "s", "K", "4", "[s]\nk=4\n[t]\n[S]\nk=2\nj=3\n"},
           {"[s]\nk=1\n[t]\n[S]\nk=2\nj=3\n", "s", "K", nullptr, "[s]\n[t]\n[S]\nj=3\n"},
           {"[s]\r\nk=1\r\n", "s", "k", " *", "[s]\r\nk=\" *\"\r\n"},
           {"[s]\r\nk=1\r\n", "s", "k", "1\r\n[x]", "[s]\r\nk=1\r\n"}}) {
    IniTool& store = loaded(before);
    const bool written =
        value == nullptr ? (store.Remove(section, key), true) : store.WriteKey(section, key, value);
    EXPECT_EQ(written, after != before) << after;
    ASSERT_TRUE(store.Save());
    EXPECT_EQ(readFile(iniPath()), after);
    EXPECT_EQ(readFile(iniPath() + "_bck"), before);
    ASSERT_TRUE(store.Load(iniPath()));
    if (written && value != nullptr) {
      EXPECT_EQ(store.Read(section, key, ""), value);
    }
  }

  IniTool& store = loaded("[b]\nz=1\n[Gone]\ng=1\n; kept\n");
  store.RemoveSection("gone");
  EXPECT_EQ(store.Headers(), (Names{"b", "Gone"}));
  EXPECT_EQ(store.Keys("B"), (Names{"Z"}));
  EXPECT_EQ(store.Keys("gone"), Names{""});
  ASSERT_TRUE(store.Save());
  EXPECT_EQ(readFile(iniPath()), "[b]\nz=1\n[Gone]\n; kept\n");
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
  EXPECT_EQ(readFile(iniPath()), "[S]\r\nk=changed\r\nother=2\r\n");
}

}  // namespace
}  // namespace rovalink::settings
