// The one clock that every sleep and tick count of the camera code goes through.
//
// Users get the real steady clock. Tests and demonstrations may install a fast
// clock: time then runs `speedup` times faster for everything that asks this
// clock (the camera code and the simulated cameras alike), so a two-minute long
// exposure passes in a fraction of a second while the order of events stays
// the same. Waits on I/O completion are not scaled: they belong to the device.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

namespace okc::platform {

class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds since an arbitrary start; never goes back.
  virtual uint64_t NowMs() = 0;
  // Blocks the calling thread for `ms` milliseconds of this clock.
  virtual void SleepMs(uint64_t ms) = 0;
  // Microseconds on the same count as NowMs; a clock without a finer count gives whole milliseconds.
  virtual uint64_t NowUs() { return NowMs() * 1000; }
  // The real time that `us` microseconds of this clock take, for a timed wait
  // on a condition variable; nullopt for a clock that moves only when told
  // (sleep on it with SleepMs instead).
  virtual std::optional<uint64_t> RealUsFor(uint64_t /*us*/) { return std::nullopt; }
};

// The real steady clock.
class RealClock final : public Clock {
 public:
  uint64_t NowMs() override;
  void SleepMs(uint64_t ms) override;
  uint64_t NowUs() override;
  std::optional<uint64_t> RealUsFor(uint64_t us) override { return us; }
};

// Runs `speedup` times faster than the real clock; starts at the real time of its creation.
class FastClock final : public Clock {
 public:
  explicit FastClock(double speedup);
  uint64_t NowMs() override;
  void SleepMs(uint64_t ms) override;
  uint64_t NowUs() override;
  std::optional<uint64_t> RealUsFor(uint64_t us) override;
  double Speedup() const { return speedup_; }

 private:
  double speedup_;
  uint64_t startRealUs_;
  uint64_t startMs_;
};

// Time that moves only when a test advances it: host-timed waits (long
// exposures, settle times) can then be stepped through one by one. Sleepers
// wake once the clock has reached the end of their sleep.
class ManualClock final : public Clock {
 public:
  explicit ManualClock(uint64_t startMs = 1000);
  ~ManualClock() override;
  uint64_t NowMs() override;
  void SleepMs(uint64_t ms) override;
  // Moves the time forward and wakes the sleepers whose time has come.
  void Advance(uint64_t ms);
  // Threads sleeping on this clock whose time has not come yet.
  int Sleepers();
  // Waits in real time until at least `count` threads sleep on this clock,
  // for at most `realLimitMs` (a guard against a hang, not a timing check).
  bool WaitForSleepers(int count, uint64_t realLimitMs = 60000);
  // From now on every sleep moves the clock itself and returns at once, so
  // threads still sleeping on it when a test ends are never stranded.
  void RunFree();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The clock in force. The real clock unless a host installed another.
Clock& ActiveClock();
// Installs a clock for the whole process; null goes back to the real clock.
void UseClock(std::shared_ptr<Clock> clock);

// Shorthands for the camera code.
inline uint64_t TickCountMs() { return ActiveClock().NowMs(); }
inline void SleepMs(uint64_t ms) { ActiveClock().SleepMs(ms); }
inline uint64_t TickCountUs() { return ActiveClock().NowUs(); }

}  // namespace okc::platform
