// A limit on each call into a database driver. The driver's own time-outs
// end a statement that waits for a lock or runs too long; a server that has
// stopped answering altogether, or a driver that ignores its time-out, would
// still hold the calling thread for ever. A watch thread notices a call that
// outlasts the limit and hands it to a stall action, which ends the process:
// the database then undoes the open transaction, and the next pass posts
// what this one had not committed.
#ifndef LUMBRA_BACKENDS_DATABASE_CALL_WATCH_H_
#define LUMBRA_BACKENDS_DATABASE_CALL_WATCH_H_

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace lumbra::database {

class CallWatch {
 public:
  // Called on the watch thread with the name of the call that outlasted the
  // limit, while that call still runs; it is not expected to return.
  using StallAction = std::function<void(const std::string& call)>;

  CallWatch(std::chrono::milliseconds limit, StallAction on_stall);
  ~CallWatch();
  CallWatch(const CallWatch&) = delete;
  CallWatch& operator=(const CallWatch&) = delete;

  // Watches one call for as long as it lives.
  class Scope {
   public:
    Scope(CallWatch* watch, const char* call);
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

   private:
    CallWatch* watch_;
  };

 private:
  void Begin(const char* call);
  void End();
  void Watch();

  const std::chrono::milliseconds limit_;
  const StallAction on_stall_;
  std::mutex mu_;
  std::condition_variable wake_;
  const char* call_ = nullptr;
  std::chrono::steady_clock::time_point since_;
  // The watch thread sleeps without a deadline until a call begins.
  bool idle_ = false;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace lumbra::database

#endif  // LUMBRA_BACKENDS_DATABASE_CALL_WATCH_H_
