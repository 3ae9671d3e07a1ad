// Local date and time for time stamps, behind a function so tests can fix the clock.
#pragma once

#include <chrono>
#include <ctime>
#include <functional>

#include "platform/System.h"

namespace platform {

struct LocalDateTime {
  int year = 2000;  // e.g. 2020
  int month = 1;    // 1..12
  int day = 1;      // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

using WallClock = std::function<LocalDateTime()>;

inline LocalDateTime NowLocal() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  std::tm tm{};
  LocalTime(seconds, tm);
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,          tm.tm_hour,
          tm.tm_min,         tm.tm_sec,     static_cast<int>(ms)};
}

}  // namespace platform
