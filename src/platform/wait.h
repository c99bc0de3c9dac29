#pragma once

#include <functional>

#include "platform/event_loop.h"

namespace rovalink::platform {

// Runs handlers (re-entrantly, from wherever it is called) until done() is true or maxMs have
// passed; returns done(). Bounded by a timer of the loop, so it works the same on virtual time.
bool waitUntil(EventLoop& loop, int maxMs, const std::function<bool()>& done);

// Keeps handling events for ms milliseconds.
void pumpFor(EventLoop& loop, int ms);

}  // namespace rovalink::platform
