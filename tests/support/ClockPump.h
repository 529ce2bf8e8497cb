// Drives a ManualClock for tests of host-timed waits: time moves in fixed
// steps, each step only once every thread that sleeps on the clock has gone
// back to sleep (or, when one is busy with real-time I/O, after a short real
// pause). The events of a long exposure then happen at exact clock times, in
// an order that does not depend on how loaded the machine is.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

#include "okccamera/Clock.h"

namespace okc::test {

class ClockPump {
 public:
  // `sleepers`: threads expected to sleep on the clock when all is quiet.
  ClockPump(std::shared_ptr<okc::platform::ManualClock> clock, uint64_t stepMs, int sleepers)
      : clock_(std::move(clock)), stepMs_(stepMs), sleepers_(sleepers) {}
  ~ClockPump() { Stop(); }

  void Start() {
    if (thread_.joinable()) return;
    running_ = true;
    thread_ = std::thread([this] {
      while (running_) {
        clock_->WaitForSleepers(sleepers_, kRealPauseMs);
        if (running_) clock_->Advance(stepMs_);
      }
    });
  }

  void Stop() {
    running_ = false;
    if (thread_.joinable()) thread_.join();
  }

 private:
  static constexpr uint64_t kRealPauseMs = 5;
  std::shared_ptr<okc::platform::ManualClock> clock_;
  const uint64_t stepMs_;
  const int sleepers_;
  std::atomic<bool> running_{false};
  std::thread thread_;
};

}  // namespace okc::test
