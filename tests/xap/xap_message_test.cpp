#include "xap/xap_message.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "xap/recording_error_log.h"

namespace rovalink::xap {
namespace {

using Names = std::vector<std::string>;

// ---- Building -------------------------------------------------------------------------------

const std::string kHeader =
    "xap-header\n{\nv=13\nhop=1\nuid=FF.0065:1A\nclass=xapBSC.Event\n"
    "source=qbt.Spykee.pc:spykee.HeadLED.Relay\n";

void setHeader(XapMessage& m, std::string target) {
  m.setMsgUID("FF.0065:1A");
  m.setMsgClass("xapBSC.Event");
  m.setMsgSource("qbt.Spykee.pc:spykee.HeadLED.Relay");
  m.setMsgTarget(std::move(target));
}

TEST(XapMessage, WritesTheExactTextWithoutEscapingOrChangingCase) {
  XapMessage status;
  setHeader(status, "");
  status.AddHeader();
  status.AddSection("output.state");
  status.AddItem("output.state", "State", "ON");
  status.AddItem("output.state", "Text", "0");
  EXPECT_EQ(status.ToXap(), kHeader + "}\noutput.state\n{\nState=ON\nText=0\n}\n");
  EXPECT_EQ(status.ToXap(), kHeader + "}\noutput.state\n{\nState=ON\nText=0\n}\n");

  XapMessage targeted;
  setHeader(targeted, "a.b.c");
  targeted.AddHeader();
  targeted.AddSection("Body Section");
  targeted.AddItem("", " Name ", "a=b\r c");
  EXPECT_EQ(targeted.ToXap(), kHeader + "target=a.b.c\n}\nBody Section\n{\n Name =a=b\r c\n}\n");
}

TEST(XapMessage, ClosesWhatWasOpenedAndKeepsTheHeaderFieldsOverInit) {
  XapMessage fresh;
  fresh.AddHeader();
  EXPECT_EQ(fresh.ToXap(),
            "xap-header\n{\nv=13\nhop=1\nuid=Unknown\nclass=Unknown\nsource=Unknown\n"
            "target=Unknown\n}\n}\n");
  XapMessage message;
  setHeader(message, "");
  message.AddHeader();
  message.AddSection("junk");
  message.Init();
  message.AddHeader();
  message.AddSection("a");
  message.AddSection("b");
  message.AddItem("a", "x", "1");  // the item goes into the section opened last
  EXPECT_EQ(message.ToXap(), kHeader + "}\na\n{\n}\nb\n{\nx=1\n}\n");
}

// ---- Parsing --------------------------------------------------------------------------------

struct Parsed {
  explicit Parsed(std::string_view text) { message.FromXap(text); }
  std::string header() const {
    return message.MsgUID() + "|" + message.MsgClass() + "|" + message.msgSource() + "|" +
           message.MsgTarget();
  }
  testing::RecordingErrorLog log;
  XapMessage message{&log};
};

TEST(XapMessage, ParsesABscCommand) {
  const Parsed p(
      "xap-header\n{\nv=13\nhop=1\nuid=FF123400\nclass=xAPBSC.cmd\nsource=acme.controller.host\n"
      "target=qbt.Spykee.host:spykee.HeadLED.Relay\n}\ninput.state.1\n{\nID=*\nState=ON\n"
      "Level=50\n}\n");
  const XapMessage& m = p.message;
  EXPECT_EQ(p.header(),
            "FF123400|xAPBSC.cmd|acme.controller.host|qbt.Spykee.host:spykee.HeadLED.Relay");
  EXPECT_EQ(m.MsgSection(), Names{"input.state.1"});
  EXPECT_EQ(m.GetItem("Input.State.1", "STATE"), "ON");
  EXPECT_EQ(m.GetItem("input.state.1", "text"), "Unknown");
  EXPECT_EQ(m.GetItem("input.state.2", "state"), "Unknown");
  // The raw item lines are kept, and the final "}" opens one more, empty, section.
  ASSERT_NE(m.msgCollection(0), nullptr);
  EXPECT_EQ(*m.msgCollection(0)->find("level"), "Level=50");
  EXPECT_EQ(m.msgCollection(1) ? m.msgCollection(1)->name() : "missing", "");
  EXPECT_TRUE(p.log.entries.empty());
  EXPECT_TRUE(m.CompareClass("XAPBSC.CMD"));
  EXPECT_FALSE(m.CompareClass("xapbsc.*"));
}

TEST(XapMessage, TextsWithoutTheHeaderMarkerChangeNothing) {
  for (const char* text : {"", "xap-hbeat\n{\nuid=FF.0065:00\nclass=xap-hbeat.alive\n}\n"}) {
    const Parsed p(text);
    EXPECT_EQ(p.header(), "Unknown|Unknown|Unknown|Unknown");
    EXPECT_EQ(p.message.MsgSection(), Names{""});
  }
  const Parsed anywhere("  XAP-Header junk\nignored=1\nuid=u\n}\n");
  EXPECT_EQ(anywhere.header(), "u|Unknown|Unknown|Unknown");
  EXPECT_EQ(anywhere.message.MsgSection(), Names{});
}

// Only LF ends a line, so a CR stays in the value; and without a "}" line every line belongs to
// the header.
TEST(XapMessage, CrLfTextKeepsItsCarriageReturns) {
  const Parsed p("xap-header\r\n{\r\nuid=u1\r\nclass=c\r\n}\r\nbody\r\n{\r\nuid=u2\r\n}\r\n");
  EXPECT_EQ(p.header(), "u2\r|c\r|Unknown|Unknown");
}

TEST(XapMessage, BodyValuesAreEverythingAfterTheFirstEqualsUntrimmed) {
  const Parsed p(
      "xap-header\n{\n Class = xAPBSC.cmd \nuid\nTARGET= t \n}\n Spaced Name \n{\n Level = 50\n"
      "Text=\nurl=http://h/?a=1&b=2\njunk\n}\n");
  const XapMessage& m = p.message;
  EXPECT_EQ(p.header(), "Unknown|xAPBSC.cmd|Unknown|t");
  EXPECT_EQ(m.MsgSection(), Names{" spaced name "});
  EXPECT_EQ(m.GetItem(" SPACED name ", "level"), " 50");
  EXPECT_EQ(m.GetItem(" spaced name ", "TEXT"), "");
  EXPECT_EQ(m.GetItem(" spaced name ", "url"), "http://h/?a=1&b=2");
  EXPECT_EQ(m.GetItem(" spaced name ", "junk"), "Unknown");
  EXPECT_EQ(m.GetItem("spaced name", "level"), "Unknown");
}

// A repeated section or item, or a "}" on the last line, ends the parse with one error; what
// was read so far stays.
TEST(XapMessage, ARepeatEndsTheParseWithOneError) {
  const Parsed section("xap-header\n{\n}\na\n{\nx=1\n}\na\n{\nx=2\n}\nb\n{\ny=3\n}\n");
  EXPECT_EQ(section.message.GetItem("a", "x"), "1");
  EXPECT_EQ(section.message.GetItem("b", "y"), "Unknown");
  const Parsed item("xap-header\n{\n}\na\n{\nx=1\nX = 2\ny=3\n}\n");
  EXPECT_EQ(item.message.GetItem("a", "x"), "1");
  EXPECT_EQ(item.message.GetItem("a", "y"), "Unknown");
  const Parsed unterminated("xap-header\n{\n}\na\n{\nx=1\n}\nb\n{\ny=2\n}");
  EXPECT_EQ(unterminated.message.MsgSection(), Names{"a"});
  EXPECT_EQ(unterminated.message.GetItem("b", "y"), "2");
  // Past sixteen entries names are looked up in a hash table: repeats are caught there too.
  std::string many = "xap-header\n{\n}\n";
  for (int s = 0; s < 20; ++s) many += "s" + std::to_string(s) + "\n{\n}\n";
  std::string big = "big\n{\n";
  for (int i = 0; i < 20; ++i) big += "i" + std::to_string(i) + "=" + std::to_string(i) + "\n";
  const Parsed manyItems(many + big + "I3=again\nlate=1\n}\n");
  EXPECT_EQ(manyItems.message.GetItem("big", "i19"), "19");
  EXPECT_EQ(manyItems.message.GetItem("big", "late"), "Unknown");
  for (const Parsed* p : {&section, &item, &unterminated, &manyItems}) {
    ASSERT_EQ(p->log.entries.size(), 1u);
    EXPECT_EQ(p->log.entries[0].first, "From XAP");
  }
}

// Line numbers are counted in 16 bits: the parse stops, with one error, at line 32767.
TEST(XapMessage, TooManyLinesAreRejectedAfterTheCountableOnes) {
  std::string text = "xap-header\n{\n}\ns\n{\n";
  for (int i = 0; i < 40000; ++i) text += "k" + std::to_string(i) + "=v\n";
  const Parsed p(text + "}\n");
  ASSERT_EQ(p.log.entries.size(), 1u);
  EXPECT_EQ(p.message.GetItem("s", "k32762"), "v");
  EXPECT_EQ(p.message.GetItem("s", "k32763"), "Unknown");
}

// ---- Addresses ------------------------------------------------------------------------------

struct AddressCase {
  std::string left, right;
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

}  // namespace
}  // namespace rovalink::xap
