#include "platform/qt/qt_process.h"

#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>

namespace rovalink::platform {
namespace {

constexpr int kHighNice = -10;
constexpr std::uint64_t kShortSliceNanos = 100'000;

#if defined(__linux__) && defined(SYS_sched_setattr)
// The kernel's sched_attr, first version (C libraries before 2.41 do not declare it).
struct SchedAttr {
  std::uint32_t size;
  std::uint32_t sched_policy;
  std::uint64_t sched_flags;
  std::int32_t sched_nice;
  std::uint32_t sched_priority;
  std::uint64_t sched_runtime;
  std::uint64_t sched_deadline;
  std::uint64_t sched_period;
};

void requestSlice(std::uint64_t nanos) {
  SchedAttr attr{};
  if (::syscall(SYS_sched_getattr, 0, &attr, sizeof attr, 0) != 0) return;
  if (attr.sched_policy != SCHED_OTHER && attr.sched_policy != SCHED_BATCH) return;
  attr.size = sizeof attr;
  attr.sched_flags = 0;
  attr.sched_runtime = nanos;  // 0: the system's own slice
  ::syscall(SYS_sched_setattr, 0, &attr, 0);
}
#else
void requestSlice(std::uint64_t) {}
#endif

}  // namespace

bool QtProcess::setPriority(PriorityClass priority) {
  const bool high = priority == PriorityClass::High;
  const bool niced = ::setpriority(PRIO_PROCESS, 0, high ? kHighNice : 0) == 0;
  // A niced thread that wakes still waits behind the task running on its CPU until that task's
  // slice ends, up to a scheduler tick (4 ms at 250 Hz), and nice does not count at all against
  // another session's tasks. Asking for a short slice lets the thread in sooner; it needs no
  // privilege and costs nothing while the thread sleeps. Kernels without it ignore the request.
  requestSlice(high ? kShortSliceNanos : 0);
  return niced;
}

}  // namespace rovalink::platform
