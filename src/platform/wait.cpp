#include "platform/wait.h"

namespace rovalink::platform {

bool waitUntil(EventLoop& loop, int maxMs, const std::function<bool()>& done) {
  if (done()) return true;
  if (maxMs <= 0) {
    loop.pumpOnce();
    return done();
  }
  auto bound = loop.createTimer();
  bound->onTick([&bound] { bound->setEnabled(false); });
  bound->setInterval(maxMs);
  bound->setEnabled(true);
  while (!done() && bound->enabled()) {
    if (!loop.waitForEvent()) break;
  }
  return done();
}

void pumpFor(EventLoop& loop, int ms) {
  waitUntil(loop, ms, [] { return false; });
}

}  // namespace rovalink::platform
