// Messages per second for the xAP text paths the gateway runs for every bus message.
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

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

class NullLog : public rovalink::xap::ErrorLog {
 public:
  void LogError(const std::string&, const std::string&, const std::string&) override {}
};

// Runs body repeatedly for about a second and prints the rate.
void measure(const char* name, const std::function<std::size_t()>& body) {
  using Clock = std::chrono::steady_clock;
  std::size_t sink = 0;
  for (int i = 0; i < 10000; ++i) sink += body();  // warm-up
  long long count = 0;
  const auto start = Clock::now();
  auto elapsed = Clock::duration::zero();
  while (elapsed < std::chrono::seconds(1)) {
    for (int i = 0; i < 10000; ++i) sink += body();
    count += 10000;
    elapsed = Clock::now() - start;
  }
  const double seconds = std::chrono::duration<double>(elapsed).count();
  std::printf("%-58s %12.0f msg/s  (%.0f ns/msg)  [%zu]\n", name, count / seconds,
              seconds * 1e9 / count, sink % 10);
}

}  // namespace

int main() {
  NullLog log;

  measure("parse xAPBSC.cmd + CompareClass/Target + 3 GetItem", [&] {
    XapMessage message(&log);
    message.FromXap(kCommand);
    std::size_t n = message.CompareClass("xAPBSC.cmd") ? 1 : 0;
    n += message.CompareTarget("qbt.Spykee.DESKTOP-PC:spykee.>") ? 1 : 0;
    n += message.GetItem("output.state.1", "ID").size();
    n += message.GetItem("output.state.1", "State").size();
    n += message.GetItem("output.state.1", "Level").size();
    return n;
  });

  measure("build + ToXap xapBSC.Event (2 items)", [&] {
    XapMessage message(&log);
    message.setMsgClass("xapBSC.Event");
    message.setMsgSource("qbt.Spykee.DESKTOP-PC:spykee.HeadLED.Relay");
    message.setMsgTarget("");
    message.setMsgUID("FF.0065:1A");
    message.AddHeader();
    message.AddSection("output.state");
    message.AddItem("output.state", "State", "ON");
    message.AddItem("output.state", "Text", "0");
    return message.ToXap().size();
  });

  rovalink::platform::SimPlatform sim;
  rovalink::xap::XapTransport xap(sim, log);
  xap.setXapSource("qbt.Spykee.DESKTOP-PC");
  xap.setXapUID("FF.0065:00");
  if (xap.InitSockets() <= 0) return 1;
  const std::string data = rovalink::xap::PackItems({{"State", "ON"}, {"Text", "0"}});
  measure("SendXap xapBSC.Event on the sim network (no receiver)", [&] {
    return xap
        .SendXap("", "xapBSC.Event", "output.state", data, "spykee.HeadLED.Relay", "FF.0065:1A")
        .size();
  });
  return 0;
}
