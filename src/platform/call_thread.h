// A thread of its own for calls into an outside component that may never
// return (a program waiting for someone to answer a question on its screen).
// The caller hands it one call at a time and waits for each at most that
// call's limit. A call that outlasts its limit keeps the thread for good:
// the caller gets a time-out, every later call fails at once, and the thread
// is left behind when its owner goes, never waited for; a process that has
// one held should end without running the libraries' exit code
// (process_end.h).
#ifndef LUMBRA_PLATFORM_CALL_THREAD_H_
#define LUMBRA_PLATFORM_CALL_THREAD_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

#include "platform/status.h"

namespace lumbra {

class CallThread {
 public:
  CallThread();
  ~CallThread();
  CallThread(const CallThread&) = delete;
  CallThread& operator=(const CallThread&) = delete;

  // Runs call on the thread (started by the first call) and returns its
  // status. Status::TimedOut, "did not answer within 300 s", when it took
  // longer than limit_ms: it goes on running, so it must own everything it
  // touches (capture by value or by shared pointer), never the caller's
  // variables. Status::TimedOut at once when an earlier call holds the
  // thread.
  Status Run(uint64_t limit_ms, std::function<Status()> call);

  // Whether a call outlasted its limit.
  bool held() const;

  // Run last on the thread when its owner goes, unless a call holds it: the
  // place to undo what the calls set up for the thread, outside the
  // libraries' thread-exit code, which runs under the loader's lock.
  void AtEnd(std::function<void()> last);

 private:
  struct State;
  static void Serve(std::shared_ptr<State> state);

  std::shared_ptr<State> state_;
  std::thread thread_;
};

}  // namespace lumbra

#endif  // LUMBRA_PLATFORM_CALL_THREAD_H_
