#include "settings/ini_tool.h"

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
using testing::RecordingServices;
using testing::TestFolder;
using testing::writeFile;
using Names = std::vector<std::string>;

class IniToolTest : public ::testing::Test {
 protected:
  std::string iniPath() const { return m_folder.file("Config/test.ini"); }

  // Writes content as the file and loads it into a new store.
  IniTool& loaded(const std::string& content) {
    writeFile(iniPath(), content);
    EXPECT_TRUE(m_store.Load(iniPath()));
    return m_store;
  }

  TestFolder m_folder;
  RecordingServices m_services;
  IniTool m_store{m_services};
};

struct ReadCase {
  const char* name;
  const char* file;
  const char* section;
  const char* key;
  const char* expected;  // the default is always "DEF"
};

class IniToolRead : public IniToolTest, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(IniToolRead, ReturnsStoredValueOrDefault) {
  const ReadCase& c = GetParam();
  EXPECT_EQ(loaded(c.file).Read(c.section, c.key, "DEF"), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Files, IniToolRead,
    ::testing::Values(
        ReadCase{"NamesIgnoreLetterCase", "[Spykee]\r\nusername=pilot\r\n", "SPYKEE", "UserName",
                 "pilot"},
        ReadCase{"BlanksAroundEqualsBelongToKey", "[S]\r\n ServerPort = 8029 \r\n", "S",
                 "ServerPort", "DEF"},
        ReadCase{"BlanksAroundEqualsBelongToValue", "[S]\r\n ServerPort = 8029 \r\n", "s",
                 "ServerPort ", " 8029"},
        ReadCase{"FirstValueWins", "[S]\r\nk=first\r\nK=second\r\n", "S", "k", "first"},
        ReadCase{"RepeatedSectionMergesKeepingFirstValues",
                 "[net]\r\nport=1\r\n[NET]\r\nport=2\r\nhost=h\r\n", "Net", "port", "1"},
        ReadCase{"RepeatedSectionAddsNewKeys", "[net]\r\nport=1\r\n[NET]\r\nhost=h\r\n", "Net",
                 "host", "h"},
        ReadCase{"LinesBeforeFirstSectionBelongToEmptyName", "top=1\r\n[S]\r\nk=2\r\n", "", "top",
                 "1"},
        ReadCase{"EmptyValueGivesDefault", "[S]\r\nk=\r\n", "S", "k", "DEF"},
        ReadCase{"MissingSectionGivesDefault", "[S]\r\nk=1\r\n", "T", "k", "DEF"},
        ReadCase{"OnlyFirstEqualsSeparates", "[S]\r\nurl=a=b\r\n", "S", "URL", "a=b"},
        ReadCase{"CommentLineIsNoValue", "[S]\r\n;k=1\r\n", "S", ";k", "DEF"},
        ReadCase{"BareLineFeedsAreLineEnds", "[S]\nk=1\nj=2", "S", "j", "2"},
        ReadCase{"SectionNameKeepsInnerBlanks", "[ My Sect ]\r\nk=1\r\n", " my sect ", "k", "1"},
        ReadCase{"LatinOneLettersIgnoreCase", "[\xC9t\xE9]\r\ncl\xE9=1\r\n", "\xE9T\xC9", "CL\xC9",
                 "1"},
        ReadCase{"LineWithoutEqualsIsSkipped", "[S]\r\njunk\r\nk=1\r\n", "S", "k", "1"}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

struct SaveCase {
  const char* name;
  const char* file;
  const char* saved;
};

class IniToolSave : public IniToolTest, public ::testing::WithParamInterface<SaveCase> {};

TEST_P(IniToolSave, WritesSortedUpperCaseCrLfText) {
  const SaveCase& c = GetParam();
  ASSERT_TRUE(loaded(c.file).Save());
  EXPECT_EQ(readFile(iniPath()), c.saved);
}

INSTANTIATE_TEST_SUITE_P(
    Files, IniToolSave,
    ::testing::Values(
        SaveCase{"SortsSectionsThenKeys", "[b]\nz=1\na=2\n[A]\nk=3\n",
                 "[A]\r\nK=3\r\n[B]\r\nA=2\r\nZ=1\r\n"},
        SaveCase{"EmptySectionNameComesFirstWithoutSectionLine", "[S]\nk=1\n[]\nx=3\n",
                 "X=3\r\n[S]\r\nK=1\r\n"},
        SaveCase{"TopValuesComeFirstWithoutSectionLine", "[S]\nk=1\n", "[S]\r\nK=1\r\n"},
        SaveCase{"DropsCommentsBlankLinesAndEmptySections",
                 "; note\n\n[Empty]\n[S]\n  ; indented note\nk=v\n", "[S]\r\nK=v\r\n"},
        SaveCase{"KeepsBlanksInsideValues", "[S]\n k = v \n", "[S]\r\nK = v\r\n"},
        SaveCase{"EmptyFileStaysEmpty", "", ""}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST_F(IniToolTest, SaveWritesNewValueAndKeepsPreviousFileAsBackup) {
  IniTool& store = loaded("[Old]\r\nk=1\r\n");
  store.WriteKey("Net", "Port", "1");
  ASSERT_TRUE(store.Save());
  EXPECT_EQ(readFile(iniPath()), "[NET]\r\nPORT=1\r\n[OLD]\r\nK=1\r\n");
  EXPECT_EQ(readFile(iniPath() + "_bck"), "[Old]\r\nk=1\r\n");
  EXPECT_FALSE(fs::exists(iniPath() + ".tmp"));
}

TEST_F(IniToolTest, SaveOfEmptyStoreLeavesEmptyFileAndBackup) {
  IniTool& store = loaded("[S]\r\nk=1\r\n");
  store.Clear();
  ASSERT_TRUE(store.Save());
  EXPECT_EQ(readFile(iniPath()), "");
  EXPECT_EQ(readFile(iniPath() + "_bck"), "[S]\r\nk=1\r\n");
}

TEST_F(IniToolTest, WriteKeyReplacesValueAndReadsBackCaseBlind) {
  IniTool& store = loaded("[Spykee]\r\nusername=pilot\r\n");
  store.WriteKey("SPYKEE", "UserName", "admin");
  EXPECT_EQ(store.Read("spykee", "USERNAME", "x"), "admin");
  ASSERT_TRUE(store.Save());
  IniTool reloaded(m_services);
  ASSERT_TRUE(reloaded.Load(iniPath()));
  EXPECT_EQ(reloaded.Read("Spykee", "username", "x"), "admin");
}

TEST_F(IniToolTest, RemoveDropsOneValue) {
  IniTool& store = loaded("[S]\r\na=1\r\nb=2\r\n");
  store.Remove("s", "A");
  EXPECT_EQ(store.Read("S", "a", "gone"), "gone");
  EXPECT_EQ(store.Read("S", "b", ""), "2");
}

TEST_F(IniToolTest, RemoveSectionDropsItsLinesButKeepsItsName) {
  IniTool& store = loaded("[A]\r\nk=1\r\n[B]\r\nk=2\r\n=blank key\r\n");
  store.RemoveSection("b");
  EXPECT_EQ(store.Headers(), (Names{"A", "B"}));
  ASSERT_TRUE(store.Save());
  EXPECT_EQ(readFile(iniPath()), "[A]\r\nK=1\r\n");
}

TEST_F(IniToolTest, HeadersListsNamesAsFirstSeenInOrder) {
  IniTool& store = loaded("[Zeta]\r\n[alpha]\r\n[ZETA]\r\n");
  store.WriteKey("New One", "k", "v");
  store.WriteKey("ALPHA", "k", "v");
  EXPECT_EQ(store.Headers(), (Names{"Zeta", "alpha", "New One"}));
}

TEST_F(IniToolTest, HeadersOfEmptyStoreIsEmpty) {
  EXPECT_TRUE(loaded("top=1\r\n").Headers().empty());
}

TEST_F(IniToolTest, KeysListsUpperCaseNamesInFileOrder) {
  IniTool& store = loaded("[S]\r\nzeta=1\r\nAlpha=2\r\n[T]\r\nother=3\r\n");
  EXPECT_EQ(store.Keys("s"), (Names{"ZETA", "ALPHA"}));
}

TEST_F(IniToolTest, KeysOfSectionWithoutValuesIsOneEmptyName) {
  EXPECT_EQ(loaded("[Empty]\r\n").Keys("Empty"), (Names{""}));
}

struct KeysCase {
  const char* name;
  const char* asked;
  std::vector<std::string> expected;
};

class IniToolKeysLiteral : public IniToolTest, public ::testing::WithParamInterface<KeysCase> {};

// Section names are matched as plain text: characters that mean something in patterns match
// only themselves, and a name never matches a longer one that starts with it.
TEST_P(IniToolKeysLiteral, MatchesSectionNameExactly) {
  IniTool& store = loaded(
      "[AXB]\r\nx=1\r\n[A.B]\r\ndot=1\r\n[A(B]\r\nparen=1\r\n[A]\r\nplain=1\r\n[AB]\r\n"
      "longer=1\r\n[A*]\r\nstar=1\r\n");
  EXPECT_EQ(store.Keys(GetParam().asked), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Names, IniToolKeysLiteral,
                         ::testing::Values(KeysCase{"Dot", "A.B", {"DOT"}},
                                           KeysCase{"OpenParenthesis", "a(b", {"PAREN"}},
                                           KeysCase{"Star", "A*", {"STAR"}},
                                           KeysCase{"Prefix", "A", {"PLAIN"}},
                                           KeysCase{"Unknown", "A?", {""}}),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

TEST_F(IniToolTest, LoadOfMissingFileCreatesFoldersAndEmptyFile) {
  const std::string path = m_folder.file("deep/er/new.ini");
  ASSERT_TRUE(m_store.Load(path));
  EXPECT_TRUE(fs::is_regular_file(path));
  EXPECT_EQ(fs::file_size(path), 0u);
  EXPECT_TRUE(m_store.Headers().empty());
}

TEST_F(IniToolTest, LoadEmptiesThePreviousContent) {
  loaded("[S]\r\nk=1\r\n");
  ASSERT_TRUE(m_store.Load(m_folder.file("other.ini")));
  EXPECT_EQ(m_store.Read("S", "k", "none"), "none");
}

TEST_F(IniToolTest, LineWithoutEqualsSignIsReportedAsEvent) {
  loaded("[S]\r\n  stray text  \r\nk=1\r\n");
  ASSERT_EQ(m_services.events.size(), 1u);
  EXPECT_EQ(m_services.events[0].first, "IniTool");
  EXPECT_EQ(m_services.events[0].second, " Equal sign not found on line stray text");
  EXPECT_TRUE(m_services.errors.empty());
}

TEST_F(IniToolTest, LoadOfFolderFailsAndLogs) {
  fs::create_directories(m_folder.file("afolder"));
  EXPECT_FALSE(m_store.Load(m_folder.file("afolder")));
  ASSERT_EQ(m_services.errors.size(), 1u);
  EXPECT_EQ(m_services.errors[0].second, "IniTool Load " + m_folder.file("afolder"));
}

TEST_F(IniToolTest, CommentLeavesNoTraceAfterSave) {
  ASSERT_TRUE(loaded(";secret=1\r\n[S]\r\nk=1\r\n").Save());
  EXPECT_EQ(readFile(iniPath()).find("secret"), std::string::npos);
}

// Names of any length save and load back: the store has no fixed-width fields.
TEST_F(IniToolTest, LongNamesSaveAndLoadBack) {
  const std::string section(300, 'S');
  const std::string key(200, 'K');
  loaded("").WriteKey(section, key, "v");
  ASSERT_TRUE(m_store.Save());
  IniTool reloaded(m_services);
  ASSERT_TRUE(reloaded.Load(iniPath()));
  EXPECT_EQ(reloaded.Read(section, key, "missing"), "v");
  EXPECT_TRUE(m_services.errors.empty());
}

// A value that happens to read like its own section and key is still a value.
TEST_F(IniToolTest, ValueEqualToItsOwnNameIsKeptAndIsNoSection) {
  IniTool& store = loaded("[A]\r\nb=a~b\r\n");
  EXPECT_EQ(store.Headers(), (Names{"A"}));
  ASSERT_TRUE(store.Save());
  EXPECT_EQ(readFile(iniPath()), "[A]\r\nB=a~b\r\n");
}

TEST_F(IniToolTest, WriteFailureMidSaveLeavesPreviousFileWhole) {
  const std::string before = "[S]\r\nk=1\r\nother=2\r\n";
  writeFile(iniPath(), before);
  std::string tempPathSeen;
  // Writes the first half of the new text, then fails like a full disk.
  IniTool store(m_services,
                [&](const std::string& path, std::string_view content, std::string& error) {
                  tempPathSeen = path;
                  writeFile(path, std::string(content.substr(0, content.size() / 2)));
                  error = "No space left on device";
                  return false;
                });
  ASSERT_TRUE(store.Load(iniPath()));
  store.WriteKey("S", "k", "changed");

  EXPECT_FALSE(store.Save());
  EXPECT_EQ(readFile(iniPath()), before);
  EXPECT_NE(tempPathSeen, iniPath());
  EXPECT_EQ(fs::path(tempPathSeen).parent_path(), fs::path(iniPath()).parent_path());
  EXPECT_FALSE(fs::exists(tempPathSeen));
  ASSERT_EQ(m_services.errors.size(), 1u);
  EXPECT_EQ(m_services.errors[0].first, "xapqbtSpykee");
  EXPECT_EQ(m_services.errors[0].second, "IniTool Save " + iniPath());
  EXPECT_EQ(m_services.errors[0].description, "No space left on device");
}

// The same through the real writer: the temporary file's place is taken by a folder.
TEST_F(IniToolTest, SaveThatCannotCreateTemporaryFileLeavesPreviousFileWhole) {
  const std::string before = "[S]\r\nk=1\r\n";
  IniTool& store = loaded(before);
  fs::create_directories(iniPath() + ".tmp");
  store.WriteKey("S", "k", "changed");

  EXPECT_FALSE(store.Save());
  EXPECT_EQ(readFile(iniPath()), before);
  EXPECT_TRUE(fs::is_directory(iniPath() + ".tmp"));
  ASSERT_EQ(m_services.errors.size(), 1u);
  EXPECT_EQ(m_services.errors[0].second, "IniTool Save " + iniPath());
}

TEST_F(IniToolTest, SaveWithoutLoadFails) {
  m_store.WriteKey("S", "k", "v");
  EXPECT_FALSE(m_store.Save());
  EXPECT_EQ(m_services.errors.size(), 1u);
}

}  // namespace
}  // namespace rovalink::settings
