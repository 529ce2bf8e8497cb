#include "okccamera/WallClock.h"

#include <chrono>
#include <ctime>

namespace okc::platform {

namespace {

struct WallClockChoice {
  std::mutex mutex;
  std::shared_ptr<WallClock> installed;
  SystemWallClock system;
};

// Created on first use and never destroyed, like the other process-wide choices: frames
// delivered while the exit handlers close a camera may still be time-marked.
WallClockChoice& Choice() {
  static auto* choice = new WallClockChoice;
  return *choice;
}

}  // namespace

LocalTime SystemWallClock::Now() {
  using namespace std::chrono;
  const system_clock::time_point now = system_clock::now();
  const std::time_t seconds = system_clock::to_time_t(now);
  const auto sinceEpochMs = duration_cast<milliseconds>(now.time_since_epoch()).count();
  std::tm local{};
  localtime_r(&seconds, &local);
  LocalTime t;
  t.year = local.tm_year + 1900;
  t.month = local.tm_mon + 1;
  t.day = local.tm_mday;
  t.hour = local.tm_hour;
  t.minute = local.tm_min;
  t.second = local.tm_sec;
  // Floor, also for times before 1970.
  t.millisecond = static_cast<int>(((sinceEpochMs % 1000) + 1000) % 1000);
  return t;
}

LocalTime FixedWallClock::Now() {
  std::lock_guard lock(mutex_);
  return time_;
}

void FixedWallClock::Set(const LocalTime& time) {
  std::lock_guard lock(mutex_);
  time_ = time;
}

void UseWallClock(std::shared_ptr<WallClock> clock) {
  std::lock_guard lock(Choice().mutex);
  Choice().installed = std::move(clock);
}

LocalTime LocalTimeNow() {
  std::shared_ptr<WallClock> clock;
  {
    std::lock_guard lock(Choice().mutex);
    clock = Choice().installed;
  }
  if (clock) return clock->Now();
  return Choice().system.Now();
}

}  // namespace okc::platform
