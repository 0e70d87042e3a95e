// SPDX-License-Identifier: ISC
// figures.h - the numbers and times of the mailbox report, worked out
// without overflow and written as an administrator reads them.
//
// Sizes are byte counts (64-bit, never negative when they come from a
// mailbox); limits are the signed 32-bit values of the limit rule. Pure
// functions apart from the time zone the time functions consult; safe to
// call from any thread once the time zone is set.
#ifndef SPOOLSTAT_FIGURES_H
#define SPOOLSTAT_FIGURES_H

#include <ctime>
#include <string>

namespace figures {

// How far size is over limit (negative: under it), saturated to the range
// of long long.
long long excess(long long size, int limit);

// The share of limit that size is, in whole percent rounded down and
// saturated; -1 when limit is not positive (no share can be given). size
// must not be negative.
long long percent_of(long long size, int limit);

// Whether size is at least percent per cent of limit, exactly (no rounding,
// no overflow). size must not be negative.
bool at_or_above(long long size, int limit, int percent);

// size in 1024-based units: "0B" .. "1023B", then "1.5K", "15K", "488K",
// "1.0M" .. up to "E". One decimal below 10 units, whole units from 10 on,
// rounded to nearest (halves up). Negative sizes get a leading '-'.
std::string human(long long size);

// Local time as "YYYY-MM-DD HH:MM"; "-" when it cannot be converted.
std::string local_minute(std::time_t when);

// Local time in full ISO 8601, "YYYY-MM-DDTHH:MM:SS+hh:mm"; empty when it
// cannot be converted.
std::string local_iso(std::time_t when);

} // namespace figures

#endif
