#include "platform/qt/qt_process.h"

#include <sys/resource.h>

namespace rovalink::platform {
namespace {

constexpr int kHighNice = -10;

}  // namespace

bool QtProcess::setPriority(PriorityClass priority) {
  const int nice = priority == PriorityClass::High ? kHighNice : 0;
  return ::setpriority(PRIO_PROCESS, 0, nice) == 0;
}

}  // namespace rovalink::platform
