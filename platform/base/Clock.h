// Calendar time.
#ifndef ORCA_PLATFORM_BASE_CLOCK_H_
#define ORCA_PLATFORM_BASE_CLOCK_H_

#include <cstdint>
#include <ctime>

namespace Orca {
namespace Base {

// Seconds since the Unix epoch, UTC.
int64_t UnixTimeNow();
// Broken-down UTC time of `seconds`; false when it cannot be represented.
bool UtcTime(int64_t seconds, std::tm& out);

// Replaces the clock read by UnixTimeNow (nullptr restores the system clock).
// For tests that need a fixed or skewed time.
using ClockSource = int64_t (*)();
void SetClockForTesting(ClockSource source);

}  // namespace Base
}  // namespace Orca

#endif  // ORCA_PLATFORM_BASE_CLOCK_H_
