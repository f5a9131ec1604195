// The clock: local civil time to the second. Tests fix "now" so timers and escalations are exact.
//
// Thread safety: Now() may be called from any thread; SetFixedTime is meant for test set-up.
#ifndef HELIQ_PLATFORM_CLOCK_H_
#define HELIQ_PLATFORM_CLOCK_H_

#include <optional>

#include "platform/variant.h"

namespace heliq {

// The current local date and time, whole seconds (or the fixed time when one is set).
DateTime Now();
// Fixes the time Now() returns; nullopt returns to the real clock.
void SetFixedTime(std::optional<DateTime> time);

// Fixes the clock for the lifetime of the object.
class ScopedFixedTime {
 public:
  explicit ScopedFixedTime(const DateTime& time) { SetFixedTime(time); }
  ~ScopedFixedTime() { SetFixedTime(std::nullopt); }
  ScopedFixedTime(const ScopedFixedTime&) = delete;
  ScopedFixedTime& operator=(const ScopedFixedTime&) = delete;
};

}  // namespace heliq

#endif  // HELIQ_PLATFORM_CLOCK_H_
