#include "okccamera/Clock.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <iterator>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace okc::platform {

namespace {

uint64_t RealMicros() {
  using namespace std::chrono;
  return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

// The state below is created on first use and never destroyed: threads of a camera left
// open still read the clock while the exit handlers close it.
struct ClockChoice {
  RealClock realClock;
  std::atomic<Clock*> active{&realClock};
  std::mutex installMutex;
  // Clocks once installed stay alive: a thread may still be sleeping on one.
  std::vector<std::shared_ptr<Clock>> installed;
};

ClockChoice& Choice() {
  static auto* choice = new ClockChoice;
  return *choice;
}

}  // namespace

uint64_t RealClock::NowMs() { return RealMicros() / 1000; }

void RealClock::SleepMs(uint64_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

uint64_t RealClock::NowUs() { return RealMicros(); }

FastClock::FastClock(double speedup)
    : speedup_(speedup > 0 ? speedup : 1.0), startRealUs_(RealMicros()), startMs_(startRealUs_ / 1000) {}

uint64_t FastClock::NowMs() {
  const double elapsedUs = static_cast<double>(RealMicros() - startRealUs_);
  return startMs_ + static_cast<uint64_t>(elapsedUs * speedup_ / 1000.0);
}

uint64_t FastClock::NowUs() {
  const double elapsedUs = static_cast<double>(RealMicros() - startRealUs_);
  return startMs_ * 1000 + static_cast<uint64_t>(elapsedUs * speedup_);
}

std::optional<uint64_t> FastClock::RealUsFor(uint64_t us) { return static_cast<uint64_t>(us / speedup_); }

void FastClock::SleepMs(uint64_t ms) {
  const uint64_t until = NowMs() + ms;
  // Sleep the scaled time, then top up until this clock has really passed `until`.
  std::this_thread::sleep_for(std::chrono::microseconds(static_cast<uint64_t>(ms * 1000.0 / speedup_)));
  while (NowMs() < until) std::this_thread::sleep_for(std::chrono::microseconds(50));
}

struct ManualClock::State {
  std::mutex mutex;
  std::condition_variable changed;
  uint64_t nowMs = 0;
  // When each sleeper wakes. One whose time has come counts as awake at
  // once, even before it runs again: on a loaded machine it may not run for
  // a while, and the clock must not move on as if it still slept.
  std::multiset<uint64_t> wakeTimes;
  bool free = false;
  int Sleepers() const {
    return static_cast<int>(std::distance(wakeTimes.upper_bound(nowMs), wakeTimes.end()));
  }
};

ManualClock::ManualClock(uint64_t startMs) : state_(std::make_unique<State>()) { state_->nowMs = startMs; }

ManualClock::~ManualClock() = default;

uint64_t ManualClock::NowMs() {
  std::lock_guard lock(state_->mutex);
  return state_->nowMs;
}

void ManualClock::SleepMs(uint64_t ms) {
  std::unique_lock lock(state_->mutex);
  const uint64_t until = state_->nowMs + ms;
  if (state_->free) {
    state_->nowMs = until;
    state_->changed.notify_all();
    return;
  }
  const auto entry = state_->wakeTimes.insert(until);
  state_->changed.notify_all();
  state_->changed.wait(lock, [&] { return state_->free || state_->nowMs >= until; });
  state_->wakeTimes.erase(entry);
  state_->changed.notify_all();
}

void ManualClock::Advance(uint64_t ms) {
  std::lock_guard lock(state_->mutex);
  state_->nowMs += ms;
  state_->changed.notify_all();
}

void ManualClock::RunFree() {
  std::lock_guard lock(state_->mutex);
  state_->free = true;
  state_->changed.notify_all();
}

int ManualClock::Sleepers() {
  std::lock_guard lock(state_->mutex);
  return state_->Sleepers();
}

bool ManualClock::WaitForSleepers(int count, uint64_t realLimitMs) {
  std::unique_lock lock(state_->mutex);
  return state_->changed.wait_for(lock, std::chrono::milliseconds(realLimitMs),
                                  [&] { return state_->Sleepers() >= count; });
}

Clock& ActiveClock() { return *Choice().active.load(std::memory_order_acquire); }

void UseClock(std::shared_ptr<Clock> clock) {
  ClockChoice& choice = Choice();
  std::lock_guard lock(choice.installMutex);
  if (!clock) {
    choice.active.store(&choice.realClock, std::memory_order_release);
    return;
  }
  choice.installed.push_back(clock);
  choice.active.store(clock.get(), std::memory_order_release);
}

}  // namespace okc::platform
