// The simulated machine's clock: virtual milliseconds since the run began.
// Timers, sleeps and child processes advance it, so a whole installation
// rehearses in milliseconds of real time and always the same way. The
// machine adds it to the described tick count (GetTickCount) and local time.
#pragma once

#include <cstdint>

class SimClock {
 public:
  // Milliseconds since the run began.
  uint64_t now() const { return now_; }
  void Advance(uint64_t milliseconds) { now_ += milliseconds; }
  void AdvanceTo(uint64_t time) {
    if (time > now_) now_ = time;
  }
  void Set(uint64_t time) { now_ = time; }

 private:
  uint64_t now_ = 0;
};
