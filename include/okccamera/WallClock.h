// The local date and time of day, for the time mark burnt into frames.
//
// Users get the system's local time. Tests and demonstrations may install a
// clock of their own (for example a fixed time), so that a mark can be checked
// bit by bit. This clock is separate from the steady clock of Clock.h, which
// times sleeps and waits and never shows the date.
#pragma once

#include <memory>
#include <mutex>

namespace okc::platform {

// Local calendar time to the millisecond.
struct LocalTime {
  int year = 1970;
  int month = 1;  // 1..12
  int day = 1;    // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

class WallClock {
 public:
  virtual ~WallClock() = default;
  virtual LocalTime Now() = 0;
};

// The system's local time (time zone of the process), to the millisecond.
class SystemWallClock final : public WallClock {
 public:
  LocalTime Now() override;
};

// Always tells the time it was last set to.
class FixedWallClock final : public WallClock {
 public:
  explicit FixedWallClock(const LocalTime& time) : time_(time) {}
  LocalTime Now() override;
  void Set(const LocalTime& time);

 private:
  std::mutex mutex_;  // the frame delivery thread reads while a test sets
  LocalTime time_;
};

// Installs a wall clock for the whole process; null goes back to the system's.
void UseWallClock(std::shared_ptr<WallClock> clock);
// The local time now, from the clock in force.
LocalTime LocalTimeNow();

}  // namespace okc::platform
