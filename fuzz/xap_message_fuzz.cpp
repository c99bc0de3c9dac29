// Feeds arbitrary datagrams to the xAP message parser and checks what it answers stays
// consistent with what it stored.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "xap/error_log.h"
#include "xap/packed_items.h"
#include "xap/xap_message.h"

namespace {

class CountingLog : public rovalink::xap::ErrorLog {
 public:
  void LogError(const std::string& first, const std::string&, const std::string&) override {
    if (first != "From XAP") __builtin_trap();
    ++count;
  }
  int count = 0;
};

void check(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  CountingLog log;
  rovalink::xap::XapMessage message(&log);
  check(message.FromXap(text) == 0);
  check(log.count <= 1);

  const auto names = message.MsgSection();
  for (int index = 0;; ++index) {
    const auto section = message.msgCollection(index);
    if (!section) break;
    for (const auto& item : section->items()) {
      // Every stored item is found again under its own name, with the text after its "=".
      const std::string value = message.GetItem(section->name(), item.name);
      check(value == item.line.substr(item.line.find('=') + 1));
    }
  }

  message.CompareClass(text);
  message.CompareTarget(text);
  message.CompareSource(message.MsgTarget());
  check(rovalink::xap::XapMessage::CompareAddress(text, text) == !text.empty());

  // Whatever was read can be written again and read back the same.
  rovalink::xap::XapMessage built(&log);
  built.setMsgClass(std::string(message.MsgClass()));
  built.setMsgSource(std::string(message.msgSource()));
  built.setMsgTarget(std::string(message.MsgTarget()));
  built.setMsgUID(std::string(message.MsgUID()));
  built.AddHeader();
  const std::string written = built.ToXap();
  rovalink::xap::XapMessage reread(&log);
  reread.FromXap(written);

  // The block-wise check agrees with a byte-by-byte one on every length and position.
  bool control = false;
  for (const char c : text) {
    const auto code = static_cast<unsigned char>(c);
    control = control || code < 0x20 || code == 0x7F;
  }
  check(rovalink::xap::HasControlCharacters(text) == control);
  return 0;
}
