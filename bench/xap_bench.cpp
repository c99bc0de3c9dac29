// Messages per second for the xAP text paths the gateway runs for every bus message, and the
// parser against the one it replaced, on the same messages in the same run.
//
//   xap_bench                        rates of every path
//   xap_bench --parse-loop new|old N parses the cmd+event mix N times and exits; run under
//                                    valgrind --tool=callgrind (bench/xap_parse_instructions.sh)
//                                    for instructions per message
//   xap_bench --build-loop N         builds and writes the status event N times and exits (the
//                                    same script counts instructions per built message)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "legacy_xap_message.h"
#include "platform/sim/sim_platform.h"
#include "xap/error_log.h"
#include "xap/xap_message.h"
#include "xap/xap_transport.h"

namespace {

using rovalink::xap::XapMessage;

const std::string kCommand =
    "xap-header\n{\nv=13\nhop=1\nuid=FF123400\nclass=xAPBSC.cmd\n"
    "source=acme.controller.livingroom\ntarget=qbt.Spykee.DESKTOP-PC:spykee.HeadLED.Relay\n}\n"
    "output.state.1\n{\nID=*\nState=ON\nLevel=50\n}\nChecksum\n{\nLength=0213\n}\n";
const std::string kEvent =
    "xap-header\n{\nv=12\nhop=1\nuid=FF.4A21:05\nclass=xAPBSC.event\n"
    "source=acme.lighting.hall:lamp.ceiling\n}\noutput.state\n{\nstate=on\nlevel=40/100\n"
    "text=Ceiling lamp\ndisplaytext=Hall ceiling 40%\n}\n";

class NullLog : public rovalink::xap::ErrorLog {
 public:
  void LogError(const std::string&, const std::string&, const std::string&) override {}
};

// What the gateway asks of each received message: the parse, the class and target tests and
// three item lookups.
template <typename Message>
std::size_t parseMix(Message& command, Message& event) {
  command.FromXap(kCommand);
  std::size_t n = command.CompareClass("xAPBSC.cmd") ? 1 : 0;
  n += command.CompareTarget("qbt.Spykee.DESKTOP-PC:spykee.>") ? 1 : 0;
  n += command.GetItem("output.state.1", "ID").size();
  n += command.GetItem("output.state.1", "State").size();
  n += command.GetItem("output.state.1", "Level").size();
  event.FromXap(kEvent);
  n += event.CompareClass("xAPBSC.cmd") ? 1 : 0;
  n += event.CompareTarget("qbt.Spykee.DESKTOP-PC:spykee.>") ? 1 : 0;
  n += event.GetItem("output.state", "State").size();
  n += event.GetItem("output.state", "Level").size();
  n += event.GetItem("output.state", "Text").size();
  return n;
}

std::size_t newParse(NullLog& log) {
  XapMessage command(&log);
  XapMessage event(&log);
  return parseMix(command, event);
}

std::size_t oldParse() {
  rovalink::bench::before::XapMessage command;
  rovalink::bench::before::XapMessage event;
  return parseMix(command, event);
}

// Runs body (which handles perCall messages) repeatedly for about a second; the messages/s.
double measure(const char* name, int perCall, const std::function<std::size_t()>& body) {
  using Clock = std::chrono::steady_clock;
  std::size_t sink = 0;
  for (int i = 0; i < 10000; ++i) sink += body();  // warm-up
  long long count = 0;
  const auto start = Clock::now();
  auto elapsed = Clock::duration::zero();
  while (elapsed < std::chrono::seconds(1)) {
    for (int i = 0; i < 10000; ++i) sink += body();
    count += 10000LL * perCall;
    elapsed = Clock::now() - start;
  }
  const double seconds = std::chrono::duration<double>(elapsed).count();
  std::printf("%-58s %12.0f msg/s  (%.0f ns/msg)  [%zu]\n", name, count / seconds,
              seconds * 1e9 / count, sink % 10);
  return count / seconds;
}

// The status report the gateway sends most: build and ToXap of a 2-item event, taken as the
// transport takes it.
std::size_t buildEvent(NullLog& log) {
  XapMessage message(&log);
  message.setMsgClass("xapBSC.Event");
  message.setMsgSource("qbt.Spykee.DESKTOP-PC:spykee.HeadLED.Relay");
  message.setMsgTarget("");
  message.setMsgUID("FF.0065:1A");
  message.AddHeader();
  message.AddSection("output.state");
  message.AddItem("output.state", "State", "ON");
  message.AddItem("output.state", "Text", "0");
  return std::move(message).ToXap().size();
}

}  // namespace

int main(int argc, char** argv) {
  NullLog log;
  if (argc == 4 && std::strcmp(argv[1], "--parse-loop") == 0) {
    const long n = std::atol(argv[3]);
    const bool old = std::strcmp(argv[2], "old") == 0;
    std::size_t sink = 0;
    for (long i = 0; i < n; ++i) sink += old ? oldParse() : newParse(log);
    return sink == 1 ? 1 : 0;
  }
  if (argc == 3 && std::strcmp(argv[1], "--build-loop") == 0) {
    const long n = std::atol(argv[2]);
    std::size_t sink = 0;
    for (long i = 0; i < n; ++i) sink += buildEvent(log);
    return sink == 1 ? 1 : 0;
  }
  if (argc != 1) {
    std::fprintf(stderr, "usage: xap_bench [--parse-loop new|old COUNT | --build-loop COUNT]\n");
    return 2;
  }

  // Alternate the two parsers so both see the same machine load; keep each one's best round.
  double oldBest = 0;
  double newBest = 0;
  for (int round = 0; round < 3; ++round) {
    oldBest = std::max(oldBest, measure("parse cmd+event mix, previous parser", 2, oldParse));
    newBest = std::max(newBest, measure("parse cmd+event mix", 2, [&] { return newParse(log); }));
  }
  std::printf("parse speed-up over the previous parser (best rounds): %.2fx\n", newBest / oldBest);

  measure("build + ToXap xapBSC.Event (2 items)", 1, [&] { return buildEvent(log); });

  rovalink::platform::SimPlatform sim;
  rovalink::xap::XapTransport xap(sim, log);
  xap.setXapSource("qbt.Spykee.DESKTOP-PC");
  xap.setXapUID("FF.0065:00");
  if (xap.InitSockets() <= 0) return 1;
  const std::string data = rovalink::xap::PackItems({{"State", "ON"}, {"Text", "0"}});
  int sent = 0;
  measure("SendXap xapBSC.Event on the sim network (no receiver)", 1, [&] {
    // Virtual time passes between sends as real time does in the gateway (a second per thousand
    // sends), so the loop's timers run and the send's event pump is never an idle busy loop.
    if (++sent % 1000 == 0) sim.advanceMs(1000);
    return xap
        .SendXap("", "xapBSC.Event", "output.state", data, "spykee.HeadLED.Relay", "FF.0065:1A")
        .size();
  });
  return 0;
}
