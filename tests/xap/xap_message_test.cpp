#include "xap/xap_message.h"

#include <array>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "xap/recording_error_log.h"

namespace rovalink::xap {
namespace {

using testing::RecordingErrorLog;
using Names = std::vector<std::string>;

const std::string kCommand =
    "xap-header\n{\nv=13\nhop=1\nuid=FF123400\nclass=xAPBSC.cmd\n"
    "source=acme.controller.host\ntarget=qbt.Spykee.host:spykee.HeadLED.Relay\n}\n"
    "input.state.1\n{\nID=*\nState=ON\nLevel=50\n}\n";

// ---- Building -------------------------------------------------------------------------------

struct BuildCase {
  std::string name;
  std::function<void(XapMessage&)> build;
  std::string expected;
};

class XapMessageBuild : public ::testing::TestWithParam<BuildCase> {};

TEST_P(XapMessageBuild, WritesTheExactText) {
  XapMessage message;
  GetParam().build(message);
  EXPECT_EQ(message.ToXap(), GetParam().expected);
}

void header(XapMessage& m, std::string target) {
  m.Init();
  m.setMsgUID("FF.0065:1A");
  m.setMsgClass("xapBSC.Event");
  m.setMsgSource("qbt.Spykee.pc:spykee.HeadLED.Relay");
  m.setMsgTarget(std::move(target));
  m.AddHeader();
}

INSTANTIATE_TEST_SUITE_P(
    Texts, XapMessageBuild,
    ::testing::Values(
        BuildCase{"StatusEventWithoutTarget",
                  [](XapMessage& m) {
                    header(m, "");
                    m.AddSection("output.state");
                    m.AddItem("output.state", "State", "ON");
                    m.AddItem("output.state", "Text", "0");
                  },
                  "xap-header\n{\nv=13\nhop=1\nuid=FF.0065:1A\nclass=xapBSC.Event\n"
                  "source=qbt.Spykee.pc:spykee.HeadLED.Relay\n}\noutput.state\n{\nState=ON\n"
                  "Text=0\n}\n"},
        BuildCase{"TargetLineWhenTargetSet",
                  [](XapMessage& m) {
                    header(m, "a.b.c");
                    m.AddSection("s");
                    m.AddItem("s", "k", "v");
                  },
                  "xap-header\n{\nv=13\nhop=1\nuid=FF.0065:1A\nclass=xapBSC.Event\n"
                  "source=qbt.Spykee.pc:spykee.HeadLED.Relay\ntarget=a.b.c\n}\ns\n{\nk=v\n}\n"},
        BuildCase{"NewObjectCarriesUnknownEverywhere", [](XapMessage& m) { m.AddHeader(); },
                  "xap-header\n{\nv=13\nhop=1\nuid=Unknown\nclass=Unknown\nsource=Unknown\n"
                  "target=Unknown\n}\n}\n"},
        BuildCase{"HeaderWithoutSectionGetsASecondClosingBrace",
                  [](XapMessage& m) { header(m, ""); },
                  "xap-header\n{\nv=13\nhop=1\nuid=FF.0065:1A\nclass=xapBSC.Event\n"
                  "source=qbt.Spykee.pc:spykee.HeadLED.Relay\n}\n}\n"},
        BuildCase{"TwoSectionsInARowCloseTheFirstEmpty",
                  [](XapMessage& m) {
                    m.setMsgTarget("");
                    m.AddHeader();
                    m.AddSection("a");
                    m.AddSection("b");
                    m.AddItem("a", "x", "1");
                  },
                  "xap-header\n{\nv=13\nhop=1\nuid=Unknown\nclass=Unknown\nsource=Unknown\n}\n"
                  "a\n{\n}\nb\n{\nx=1\n}\n"},
        BuildCase{"NothingIsEscapedOrCaseChanged",
                  [](XapMessage& m) {
                    m.setMsgTarget("");
                    m.AddHeader();
                    m.AddSection("Body Section");
                    m.AddItem("", " Name ", "a=b\r c");
                  },
                  "xap-header\n{\nv=13\nhop=1\nuid=Unknown\nclass=Unknown\nsource=Unknown\n}\n"
                  "Body Section\n{\n Name =a=b\r c\n}\n"},
        BuildCase{"InitEmptiesTheBuilderButKeepsHeaderFields",
                  [](XapMessage& m) {
                    header(m, "");
                    m.AddSection("junk");
                    m.Init();
                    m.setMsgTarget("");
                    m.AddHeader();
                  },
                  "xap-header\n{\nv=13\nhop=1\nuid=FF.0065:1A\nclass=xapBSC.Event\n"
                  "source=qbt.Spykee.pc:spykee.HeadLED.Relay\n}\n}\n"}),
    [](const auto& testInfo) { return testInfo.param.name; });

TEST(XapMessage, ToXapCanBeTakenTwice) {
  XapMessage message;
  header(message, "");
  message.AddSection("s");
  const std::string first = message.ToXap();
  EXPECT_EQ(message.ToXap(), first);
}

// ---- Parsing --------------------------------------------------------------------------------

TEST(XapMessage, ParsesABscCommand) {
  RecordingErrorLog log;
  XapMessage message(&log);
  EXPECT_EQ(message.FromXap(kCommand), 0);
  EXPECT_EQ(message.MsgUID(), "FF123400");
  EXPECT_EQ(message.MsgClass(), "xAPBSC.cmd");
  EXPECT_EQ(message.msgSource(), "acme.controller.host");
  EXPECT_EQ(message.MsgTarget(), "qbt.Spykee.host:spykee.HeadLED.Relay");
  EXPECT_EQ(message.MsgSection(), Names{"input.state.1"});
  EXPECT_EQ(message.GetItem("Input.State.1", "STATE"), "ON");
  EXPECT_EQ(message.GetItem("input.state.1", "id"), "*");
  EXPECT_EQ(message.GetItem("input.state.1", "level"), "50");
  EXPECT_EQ(message.GetItem("input.state.1", "text"), "Unknown");
  EXPECT_EQ(message.GetItem("input.state.2", "state"), "Unknown");
  EXPECT_TRUE(log.entries.empty());
}

TEST(XapMessage, KeepsRawItemLinesAndAnExtraTrailingSection) {
  XapMessage message;
  message.FromXap(kCommand);
  const XapSection* body = message.msgCollection(0);
  ASSERT_NE(body, nullptr);
  EXPECT_EQ(body->name(), "input.state.1");
  ASSERT_NE(body->find("level"), nullptr);
  EXPECT_EQ(*body->find("level"), "Level=50");
  const XapSection* trailing = message.msgCollection(1);
  ASSERT_NE(trailing, nullptr);
  EXPECT_EQ(trailing->name(), "");
  EXPECT_TRUE(trailing->items().empty());
  EXPECT_EQ(message.msgCollection(2), nullptr);
  EXPECT_EQ(message.msgCollection(-1), nullptr);
}

TEST(XapMessage, BuiltTextParsesBackToTheSameValues) {
  XapMessage built;
  built.Init();
  built.setMsgUID("FF.0065:07");
  built.setMsgClass("xAPBSC.cmd");
  built.setMsgSource("qbt.Spykee.pc");
  built.setMsgTarget("v.d.host:robot.led");
  built.AddHeader();
  built.AddSection("output.state.1");
  built.AddItem("", "ID", "07");
  built.AddItem("", "Text", "a=b=c");
  built.AddSection("Checksum");
  built.AddItem("", "Length", " 0123");

  XapMessage parsed;
  parsed.FromXap(built.ToXap());
  EXPECT_EQ(parsed.MsgUID(), built.MsgUID());
  EXPECT_EQ(parsed.MsgClass(), built.MsgClass());
  EXPECT_EQ(parsed.msgSource(), built.msgSource());
  EXPECT_EQ(parsed.MsgTarget(), built.MsgTarget());
  EXPECT_EQ(parsed.MsgSection(), (Names{"output.state.1", "checksum"}));
  EXPECT_EQ(parsed.GetItem("output.state.1", "id"), "07");
  EXPECT_EQ(parsed.GetItem("output.state.1", "text"), "a=b=c");
  EXPECT_EQ(parsed.GetItem("checksum", "length"), " 0123");
}

struct ParseCase {
  std::string name;
  std::string text;
  std::string uid, cls, source, target;
  std::vector<std::string> sections;
  // section, item, expected GetItem answer
  std::vector<std::array<std::string, 3>> items;
  std::size_t errors = 0;
};

class XapMessageParse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(XapMessageParse, ReadsTheTextTolerantly) {
  const ParseCase& c = GetParam();
  RecordingErrorLog log;
  XapMessage message(&log);
  EXPECT_EQ(message.FromXap(c.text), 0);
  EXPECT_EQ(message.MsgUID(), c.uid);
  EXPECT_EQ(message.MsgClass(), c.cls);
  EXPECT_EQ(message.msgSource(), c.source);
  EXPECT_EQ(message.MsgTarget(), c.target);
  EXPECT_EQ(message.MsgSection(), c.sections);
  for (const auto& [section, item, expected] : c.items) {
    EXPECT_EQ(message.GetItem(section, item), expected) << section << "/" << item;
  }
  ASSERT_EQ(log.entries.size(), c.errors);
  for (const auto& entry : log.entries) {
    EXPECT_EQ(entry.first, "From XAP");
    EXPECT_EQ(entry.second, "");
    EXPECT_FALSE(entry.description.empty());
  }
}

const std::vector<std::string> kNoSectionNames = {""};

INSTANTIATE_TEST_SUITE_P(
    Texts, XapMessageParse,
    ::testing::Values(
        ParseCase{"EmptyTextChangesNothing",
                  "",
                  "Unknown",
                  "Unknown",
                  "Unknown",
                  "Unknown",
                  kNoSectionNames,
                  {},
                  0},
        ParseCase{"HeartbeatChangesNothing",
                  "xap-hbeat\n{\nv=13\nhop=1\nuid=FF.0065:00\nclass=xap-hbeat.alive\n"
                  "source=a.b.c\ninterval=600\nport=32768\n}\n",
                  "Unknown",
                  "Unknown",
                  "Unknown",
                  "Unknown",
                  kNoSectionNames,
                  {},
                  0},
        ParseCase{"HeaderMarkerAnywhereInFirstLineAnyCase",
                  "  XAP-Header junk\nignored=1\nuid=u\n}\n",
                  "u",
                  "Unknown",
                  "Unknown",
                  "Unknown",
                  {},
                  {},
                  0},
        ParseCase{"CrLfLinesAreAllHeaderLinesKeepingTheirCr",
                  "xap-header\r\n{\r\nuid=u1\r\nclass=c\r\n}\r\nbody\r\n{\r\nuid=u2\r\n}\r\n",
                  "u2\r",
                  "c\r",
                  "Unknown",
                  "Unknown",
                  kNoSectionNames,
                  {},
                  0},
        ParseCase{"HeaderValuesTrimmedBodyValuesNot",
                  "xap-header\n{\n Class = xAPBSC.cmd \nUID=x\nTARGET= t \n}\nBody\n{\n"
                  " Level = 50\nText=\n}\n",
                  "x",
                  "xAPBSC.cmd",
                  "Unknown",
                  "t",
                  {"body"},
                  {{{"BODY", "level", " 50"}, {"body", "TEXT", ""}, {"body", "x", "Unknown"}}},
                  0},
        ParseCase{"SectionNamesKeepBlanks",
                  "xap-header\n{\n}\n Spaced Name \n{\na=1\n}\n",
                  "Unknown",
                  "Unknown",
                  "Unknown",
                  "Unknown",
                  {" spaced name "},
                  {{{" SPACED name ", "A", "1"}, {"spaced name", "a", "Unknown"}}},
                  0},
        ParseCase{"ValueKeepsEverythingAfterTheFirstEquals",
                  "xap-header\n{\n}\ns\n{\nurl=http://h/?a=1&b=2\n}\n",
                  "Unknown",
                  "Unknown",
                  "Unknown",
                  "Unknown",
                  {"s"},
                  {{{"s", "url", "http://h/?a=1&b=2"}}},
                  0},
        ParseCase{"RepeatedSectionKeepsTheFirstAndStops",
                  "xap-header\n{\n}\na\n{\nx=1\n}\na\n{\nx=2\n}\nb\n{\ny=3\n}\n",
                  "Unknown",
                  "Unknown",
                  "Unknown",
                  "Unknown",
                  {},
                  {{{"a", "x", "1"}, {"b", "y", "Unknown"}}},
                  1},
        ParseCase{"RepeatedItemStopsTheParse",
                  "xap-header\n{\n}\na\n{\nx=1\nX = 2\ny=3\n}\n",
                  "Unknown",
                  "Unknown",
                  "Unknown",
                  "Unknown",
                  {},
                  {{{"a", "x", "1"}, {"a", "y", "Unknown"}}},
                  1},
        ParseCase{"MissingFinalLineEndLosesTheLastSection",
                  "xap-header\n{\n}\na\n{\nx=1\n}\nb\n{\ny=2\n}",
                  "Unknown",
                  "Unknown",
                  "Unknown",
                  "Unknown",
                  {"a"},
                  {{{"a", "x", "1"}, {"b", "y", "2"}}},
                  1},
        ParseCase{"HeaderOnlyMessageHasNoSections",
                  "xap-header\n{\nclass=c\n}\n",
                  "Unknown",
                  "c",
                  "Unknown",
                  "Unknown",
                  {},
                  {},
                  0},
        ParseCase{"LinesWithoutEqualsAreSkipped",
                  "xap-header\n{\nuid\nclass=c\n}\ns\n{\njunk\nk=v\n}\n",
                  "Unknown",
                  "c",
                  "Unknown",
                  "Unknown",
                  {"s"},
                  {{{"s", "k", "v"}, {"s", "junk", "Unknown"}}},
                  0}),
    [](const auto& testInfo) { return testInfo.param.name; });

TEST(XapMessage, TooManyLinesAreRejectedAfterTheCountableOnes) {
  std::string text = "xap-header\n{\n}\ns\n{\n";
  for (int i = 0; i < 40000; ++i) text += "k" + std::to_string(i) + "=v\n";
  text += "}\n";
  RecordingErrorLog log;
  XapMessage message(&log);
  message.FromXap(text);
  ASSERT_EQ(log.entries.size(), 1u);
  EXPECT_EQ(log.entries[0].first, "From XAP");
  // Line 32767 is the last one read: it holds item number 32767 - 5.
  EXPECT_EQ(message.GetItem("s", "k32762"), "v");
  EXPECT_EQ(message.GetItem("s", "k32763"), "Unknown");
  EXPECT_EQ(message.msgCollection(0)->items().size(), 32763u);
}

TEST(XapMessage, ManyDistinctSectionsAndItemsAreAllFound) {
  std::string text = "xap-header\n{\n}\n";
  for (int s = 0; s < 300; ++s) {
    text += "S" + std::to_string(s) + "\n{\n";
    for (int i = 0; i < 30; ++i)
      text += "I" + std::to_string(i) + "=" + std::to_string(s * i) + "\n";
    text += "}\n";
  }
  RecordingErrorLog log;
  XapMessage message(&log);
  message.FromXap(text);
  EXPECT_TRUE(log.entries.empty());
  EXPECT_EQ(message.MsgSection().size(), 300u);
  EXPECT_EQ(message.GetItem("s299", "i29"), std::to_string(299 * 29));
  EXPECT_EQ(message.GetItem("s17", "i0"), "0");
  EXPECT_EQ(message.GetItem("s17", "i30"), "Unknown");
}

TEST(XapMessage, RepeatsAreCaughtInLargeMessagesToo) {
  std::string text = "xap-header\n{\n}\n";
  for (int s = 0; s < 20; ++s) text += "s" + std::to_string(s) + "\n{\n}\n";
  text += "big\n{\n";
  for (int i = 0; i < 20; ++i) text += "i" + std::to_string(i) + "=" + std::to_string(i) + "\n";
  text += "I3=again\nlate=1\n}\n";
  RecordingErrorLog log;
  XapMessage message(&log);
  message.FromXap(text);
  ASSERT_EQ(log.entries.size(), 1u);
  EXPECT_EQ(message.GetItem("big", "i3"), "3");
  EXPECT_EQ(message.GetItem("big", "i19"), "19");
  EXPECT_EQ(message.GetItem("big", "late"), "Unknown");

  std::string repeated = "xap-header\n{\n}\n";
  for (int s = 0; s < 20; ++s) repeated += "s" + std::to_string(s) + "\n{\n}\n";
  repeated += "s7\n{\nx=1\n}\n";
  XapMessage sections(&log);
  sections.FromXap(repeated);
  ASSERT_EQ(log.entries.size(), 2u);
  EXPECT_EQ(sections.GetItem("s7", "x"), "Unknown");
}

// ---- Addresses and classes ------------------------------------------------------------------

struct AddressCase {
  std::string left;
  std::string right;
  bool matches;
};

class XapAddress : public ::testing::TestWithParam<AddressCase> {};

TEST_P(XapAddress, MatchesPositionByPositionSymmetrically) {
  const auto& c = GetParam();
  EXPECT_EQ(XapMessage::CompareAddress(c.left, c.right), c.matches) << c.left << " ~ " << c.right;
  EXPECT_EQ(XapMessage::CompareAddress(c.right, c.left), c.matches) << c.right << " ~ " << c.left;
}

INSTANTIATE_TEST_SUITE_P(
    Rules, XapAddress,
    ::testing::Values(
        AddressCase{"v.d.*", "v.d.host", true}, AddressCase{"v.d.*", "v.d.host:robot.led", false},
        AddressCase{"v.>", "v.d.host:robot.led", true}, AddressCase{"v.>", "v", false},
        AddressCase{"A.B", "a.b", true}, AddressCase{"", "a.b", false}, AddressCase{"", "", false},
        AddressCase{"a.b", "a.c", false}, AddressCase{"a.b", "a.b.c", false},
        AddressCase{"a.*.c", "a.x.c", true}, AddressCase{"*", "anything", true},
        AddressCase{"*", "a.b", false}, AddressCase{">", "a.b.c", true},
        AddressCase{"x.>", "y.b.c", false}, AddressCase{"a.>", "a.", true},
        AddressCase{"a.", "a.", true}, AddressCase{"a.", "a", false},
        AddressCase{"qbt.spykee.pc:spykee.>", "qbt.Spykee.PC:spykee.HeadLED.Relay", true},
        AddressCase{"qbt.spykee.pc:*.x", "qbt.spykee.pc:spykee.x", false}));

TEST(XapMessage, SourceAndTargetUseTheAddressRule) {
  XapMessage message;
  message.FromXap(kCommand);
  EXPECT_TRUE(message.CompareSource("acme.controller.*"));
  EXPECT_FALSE(message.CompareSource("acme.*"));
  EXPECT_TRUE(message.CompareTarget("qbt.spykee.host:spykee.>"));
  EXPECT_FALSE(message.CompareTarget("qbt.spykee.other:spykee.>"));
}

TEST(XapMessage, ClassComparisonIgnoresCaseButNotWildcards) {
  XapMessage message;
  message.FromXap(kCommand);
  EXPECT_TRUE(message.CompareClass("XAPBSC.CMD"));
  EXPECT_FALSE(message.CompareClass("xapbsc.*"));
  EXPECT_FALSE(message.CompareClass("xapbsc.cmd "));
}

}  // namespace
}  // namespace rovalink::xap
