#include "backends/database/call_watch.h"

namespace lumbra::database {

CallWatch::CallWatch(std::chrono::milliseconds limit, StallAction on_stall)
    : limit_(limit), on_stall_(std::move(on_stall)), thread_([this] { Watch(); }) {}

CallWatch::~CallWatch() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stop_ = true;
  }
  wake_.notify_one();
  thread_.join();
}

CallWatch::Scope::Scope(CallWatch* watch, const char* call) : watch_(watch) {
  if (watch_) watch_->Begin(call);
}

CallWatch::Scope::~Scope() {
  if (watch_) watch_->End();
}

// Calls follow one another closely (one fetch per row): only a watch thread
// that sleeps without a deadline needs waking; one that waits for an earlier
// call's deadline finds the newer call when it wakes.
void CallWatch::Begin(const char* call) {
  bool wake = false;
  {
    std::lock_guard<std::mutex> lock(mu_);
    call_ = call;
    since_ = std::chrono::steady_clock::now();
    wake = idle_;
  }
  if (wake) wake_.notify_one();
}

void CallWatch::End() {
  std::lock_guard<std::mutex> lock(mu_);
  call_ = nullptr;
}

void CallWatch::Watch() {
  std::unique_lock<std::mutex> lock(mu_);
  while (!stop_) {
    if (call_ == nullptr) {
      idle_ = true;
      wake_.wait(lock);
      idle_ = false;
      continue;
    }
    auto deadline = since_ + limit_;
    if (std::chrono::steady_clock::now() < deadline) {
      wake_.wait_until(lock, deadline);
      continue;
    }
    // The lock stays held: the stalled call cannot end, and nothing else of
    // the pass runs, while the stall action reports it.
    on_stall_(call_);
    call_ = nullptr;
  }
}

}  // namespace lumbra::database
