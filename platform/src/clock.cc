#include "platform/clock.h"

#include <ctime>
#include <mutex>

namespace heliq {
namespace {

std::mutex clock_mutex;
std::optional<DateTime> fixed_time;

}  // namespace

DateTime Now() {
  {
    std::lock_guard lock(clock_mutex);
    if (fixed_time) return *fixed_time;
  }
  const std::time_t t = std::time(nullptr);
  std::tm local{};
  localtime_r(&t, &local);
  return DateTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                  local.tm_hour,        local.tm_min,     local.tm_sec};
}

void SetFixedTime(std::optional<DateTime> time) {
  std::lock_guard lock(clock_mutex);
  fixed_time = time;
}

}  // namespace heliq
