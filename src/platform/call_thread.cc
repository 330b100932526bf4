#include "platform/call_thread.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

namespace lumbra {
namespace {

std::string LimitText(uint64_t ms) {
  if (ms % 1000 == 0) return std::to_string(ms / 1000) + " s";
  return std::to_string(ms) + " ms";
}

}  // namespace

// Shared with the thread, which can outlive its owner.
struct CallThread::State {
  std::mutex mu;
  std::condition_variable wake;
  std::function<Status()> call;  // the one waiting to be run, if any
  uint64_t finished = 0;         // calls run so far
  Status result;                 // the last one's
  bool held = false;
  uint64_t held_limit_ms = 0;
  bool stop = false;
  std::function<void()> at_end;
};

CallThread::CallThread() : state_(std::make_shared<State>()) {}

CallThread::~CallThread() {
  bool held;
  {
    std::lock_guard<std::mutex> lock(state_->mu);
    state_->stop = true;
    held = state_->held;
  }
  state_->wake.notify_all();
  if (!thread_.joinable()) return;
  if (held) {
    thread_.detach();
  } else {
    thread_.join();
  }
}

void CallThread::Serve(std::shared_ptr<State> state) {
  std::unique_lock<std::mutex> lock(state->mu);
  for (;;) {
    state->wake.wait(lock, [&] { return state->stop || state->call != nullptr; });
    if (state->call == nullptr) break;
    std::function<Status()> call = std::move(state->call);
    state->call = nullptr;
    lock.unlock();
    Status s = call();
    call = nullptr;  // what it owns goes on this thread, not under the lock
    lock.lock();
    state->result = std::move(s);
    ++state->finished;
    state->wake.notify_all();
  }
  std::function<void()> last = state->held ? nullptr : std::move(state->at_end);
  lock.unlock();
  if (last) last();
}

Status CallThread::Run(uint64_t limit_ms, std::function<Status()> call) {
  std::unique_lock<std::mutex> lock(state_->mu);
  if (state_->held) {
    return Status::TimedOut("did not answer an earlier call within " +
                            LimitText(state_->held_limit_ms) + ", and is not called again");
  }
  if (!thread_.joinable()) thread_ = std::thread(Serve, state_);
  const uint64_t done = state_->finished + 1;
  state_->call = std::move(call);
  state_->wake.notify_all();
  if (!state_->wake.wait_for(lock, std::chrono::milliseconds(limit_ms),
                             [&] { return state_->finished >= done; })) {
    state_->held = true;
    state_->held_limit_ms = limit_ms;
    return Status::TimedOut("did not answer within " + LimitText(limit_ms));
  }
  return state_->result;
}

void CallThread::AtEnd(std::function<void()> last) {
  std::lock_guard<std::mutex> lock(state_->mu);
  state_->at_end = std::move(last);
}

bool CallThread::held() const {
  std::lock_guard<std::mutex> lock(state_->mu);
  return state_->held;
}

}  // namespace lumbra
