#include "xap/xap_message.h"

#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "settings/log_text.h"
#include "xap/packed_items.h"
#include "xap/recording_error_log.h"

namespace rovalink::xap {
namespace {

using Names = std::vector<std::string>;

// Nothing is changed in case and only control characters are escaped (so no field can start a
// line of its own), and writing twice gives the same text. Init drops the
// body but keeps the header fields; an item goes into the section opened last; what was opened
// is closed, also when nothing was set. A message taken for sending gives the same text.
TEST(XapMessage, WritesTheExactText) {
  XapMessage m;
  m.setMsgUID("FF.0065:1A");
  m.setMsgClass("xapBSC.Event");
  m.setMsgSource("qbt.Spykee.pc:spykee.HeadLED.Relay");
  m.setMsgTarget("a.b.c");
  m.AddHeader();
  m.AddSection("Body Section");
  m.AddItem("Body Section", "State", "ON");
  m.AddItem("", " Name ", "a=b\r c\nInjected=1");
  const std::string header =
      "xap-header\n{\nv=13\nhop=1\nuid=FF.0065:1A\nclass=xapBSC.Event\n"
      "source=qbt.Spykee.pc:spykee.HeadLED.Relay\ntarget=a.b.c\n}\n";
  const std::string body = "Body Section\n{\nState=ON\n Name =a=b\\x0D c\\x0AInjected=1\n}\n";
  EXPECT_EQ(m.ToXap(), header + body);
  EXPECT_EQ(m.ToXap(), header + body);
  XapMessage taken = m;
  EXPECT_EQ(std::move(taken).ToXap(), header + body);
  m.Init();
  m.AddHeader();
  m.AddSection("a");
  m.AddSection("b");
  m.AddItem("a", "x", "1");
  EXPECT_EQ(m.ToXap(), header + "a\n{\n}\nb\n{\nx=1\n}\n");
  XapMessage fresh;
  fresh.AddHeader();
  EXPECT_EQ(fresh.ToXap(),
            "xap-header\n{\nv=13\nhop=1\nuid=Unknown\nclass=Unknown\nsource=Unknown\n"
            "target=Unknown\n}\n}\n");
  XapMessage injected;
  injected.setMsgUID("u");
  injected.setMsgClass("c\n}");
  injected.setMsgSource("s\x7F");
  injected.setMsgTarget("t\nclass=x");
  injected.AddHeader();
  injected.AddSection("}\nsection");
  injected.AddItem("", std::string("n\0a", 3), "\x1F");
  const std::string escaped =
      "xap-header\n{\nv=13\nhop=1\nuid=u\nclass=c\\x0A}\nsource=s\\x7F\n"
      "target=t\\x0Aclass=x\n}\n}\\x0Asection\n{\nn\\x00a=\\x1F\n}\n";
  EXPECT_EQ(injected.ToXap(), escaped);
  EXPECT_EQ(std::move(injected).ToXap(), escaped);
}

// Exactly codes 0 to 31 and 127 count, at any place in a field of any length, among any
// neighbours (the checks read sixteen, eight or four bytes at a time, the last block overlapping
// the one before); the escape is byte for byte the error log's.
TEST(ControlCharacters, AreFoundAndEscapedExactly) {
  for (const char filler : {'a', ' ', '\x7E', '\x80', '\xFF'}) {
    for (int code = 0; code < 256; ++code) {
      for (std::size_t length = 1; length <= 34; ++length) {
        for (std::size_t at = 0; at < length; ++at) {
          std::string text(length, filler);
          text[at] = static_cast<char>(code);
          const bool control = code < 0x20 || code == 0x7F;
          ASSERT_EQ(HasControlCharacters(text), control) << code << " at " << at << "/" << length;
          ASSERT_EQ(EscapeControlCharacters(text), settings::LogText(text, std::string::npos));
        }
      }
    }
  }
  EXPECT_EQ(EscapeControlCharacters(std::string("a\0b\x1F\x7F\x80\\", 7)),
            "a\\x00b\\x1F\\x7F\x80\\");
}

struct Parsed {
  explicit Parsed(std::string_view text) { message.FromXap(text); }
  std::string header() const {
    return std::string(message.MsgUID()) + "|" + std::string(message.MsgClass()) + "|" +
           std::string(message.msgSource()) + "|" + std::string(message.MsgTarget());
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
  EXPECT_EQ(m.msgCollection(0) ? *m.msgCollection(0)->find("level") : "missing", "Level=50");
  EXPECT_EQ(m.msgCollection(1) ? m.msgCollection(1)->name() : "missing", "");
  EXPECT_TRUE(p.log.entries.empty());
  EXPECT_TRUE(m.CompareClass("XAPBSC.CMD") && !m.CompareClass("xapbsc.*"));
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
  // Only LF ends a line, so a CR stays in the value; and without a "}" line every line belongs
  // to the header.
  const Parsed crlf("xap-header\r\n{\r\nuid=u1\r\nclass=c\r\n}\r\nbody\r\n{\r\nuid=u2\r\n}\r\n");
  EXPECT_EQ(crlf.header(), "u2\r|c\r|Unknown|Unknown");
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

// Part by part and both ways round: "*" stands for one part, ">" for one or more. The cases are
// "left|right", separated by spaces.
TEST(XapAddress, MatchesPartByPartSymmetrically) {
  const std::string matching =
      "v.d.*|v.d.host v.>|v.d.host:robot.led A.B|a.b a.*.c|a.x.c *|anything >|a.b.c a.>|a. a.|a. "
      "qbt.spykee.pc:spykee.>|qbt.Spykee.PC:spykee.HeadLED.Relay";
  const std::string differing =
      "v.d.*|v.d.host:robot.led v.>|v |a.b | a.b|a.c a.b|a.b.c *|a.b x.>|y.b.c a.|a "
      "qbt.spykee.pc:*.x|qbt.spykee.pc:spykee.x";
  for (const bool matches : {true, false}) {
    std::istringstream cases(matches ? matching : differing);
    for (std::string c; cases >> c;) {
      const std::string left = c.substr(0, c.find('|')), right = c.substr(c.find('|') + 1);
      EXPECT_EQ(XapMessage::CompareAddress(left, right), matches) << c;
      EXPECT_EQ(XapMessage::CompareAddress(right, left), matches) << c;
    }
  }
}

}  // namespace
}  // namespace rovalink::xap
