#pragma once

#include <memory>

#include "platform/host_resolver.h"
#include "platform/platform.h"

namespace rovalink::platform {

// The system resolver on a thread of its own, since a name server that never answers holds
// getaddrinfo for many seconds. The answer is handed to the event loop through an eventfd; a
// lookup that is dropped (cancel, a new one, destruction, exit) finishes on its own and is
// forgotten, so nothing ever waits for it. A numeric address is answered at once.
class ThreadHostResolver : public HostResolver {
 public:
  explicit ThreadHostResolver(Platform& platform);
  ~ThreadHostResolver() override;
  ThreadHostResolver(const ThreadHostResolver&) = delete;
  ThreadHostResolver& operator=(const ThreadHostResolver&) = delete;

  void resolve(const std::string& host, Handler handler) override;
  void cancel() override;

  struct Lookup;

 private:
  void finished();

  Platform& m_platform;
  std::shared_ptr<Lookup> m_lookup;
  std::unique_ptr<FdWatch> m_watch;
  Handler m_handler;
};

}  // namespace rovalink::platform
