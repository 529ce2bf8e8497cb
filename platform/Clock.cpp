#include "okccamera/Clock.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

namespace okc::platform {

namespace {

uint64_t RealMicros() {
  using namespace std::chrono;
  return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

RealClock g_realClock;
std::atomic<Clock*> g_active{&g_realClock};
std::mutex g_installMutex;
// Clocks once installed stay alive: a thread may still be sleeping on one.
std::vector<std::shared_ptr<Clock>> g_installed;

}  // namespace

uint64_t RealClock::NowMs() { return RealMicros() / 1000; }

void RealClock::SleepMs(uint64_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

FastClock::FastClock(double speedup)
    : speedup_(speedup > 0 ? speedup : 1.0), startRealUs_(RealMicros()), startMs_(startRealUs_ / 1000) {}

uint64_t FastClock::NowMs() {
  const double elapsedUs = static_cast<double>(RealMicros() - startRealUs_);
  return startMs_ + static_cast<uint64_t>(elapsedUs * speedup_ / 1000.0);
}

void FastClock::SleepMs(uint64_t ms) {
  const uint64_t until = NowMs() + ms;
  // Sleep the scaled time, then top up until this clock has really passed `until`.
  std::this_thread::sleep_for(std::chrono::microseconds(static_cast<uint64_t>(ms * 1000.0 / speedup_)));
  while (NowMs() < until) std::this_thread::sleep_for(std::chrono::microseconds(50));
}

Clock& ActiveClock() { return *g_active.load(std::memory_order_acquire); }

void UseClock(std::shared_ptr<Clock> clock) {
  std::lock_guard lock(g_installMutex);
  if (!clock) {
    g_active.store(&g_realClock, std::memory_order_release);
    return;
  }
  g_installed.push_back(clock);
  g_active.store(clock.get(), std::memory_order_release);
}

}  // namespace okc::platform
