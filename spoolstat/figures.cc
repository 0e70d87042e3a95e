// SPDX-License-Identifier: ISC
// figures - sizes, shares of the limit and times as the report shows them.
//
// Interface: figures.h. Every product that could leave 64 bits is avoided
// by dividing first; results that still do not fit saturate. No I/O, no
// diagnostics; the time functions read the process's time zone.
#include "figures.h"

#include <climits>
#include <cstdio>

namespace figures {

long long excess(long long size, int limit)
{
	long long result;
	if (__builtin_sub_overflow(size, static_cast<long long>(limit), &result))
		return limit < 0 ? LLONG_MAX : LLONG_MIN;
	return result;
}

long long percent_of(long long size, int limit)
{
	if (limit <= 0)
		return -1;
	long long whole = size / limit;
	long long rest = size % limit; // below limit, so rest * 100 fits
	if (whole > LLONG_MAX / 100)
		return LLONG_MAX;
	long long hundredths = rest * 100 / limit; // 0 to 99
	return whole * 100 > LLONG_MAX - hundredths ? LLONG_MAX : whole * 100 + hundredths;
}

bool at_or_above(long long size, int limit, int percent)
{
	// size * 100 >= percent * limit, with the right side at most
	// 100 * 2^31 in magnitude: compare size with its exact ceiling / 100.
	long long share = static_cast<long long>(percent) * limit;
	long long least = share >= 0 ? (share + 99) / 100 : share / 100;
	return size >= least;
}

std::string human(long long size)
{
	static constexpr char units[] = "BKMGTPE";
	unsigned long long n = size < 0 ? 0ULL - static_cast<unsigned long long>(size)
	                                : static_cast<unsigned long long>(size);
	const char *sign = size < 0 ? "-" : "";
	char out[40];
	if (n < 1024) {
		std::snprintf(out, sizeof out, "%s%lluB", sign, n);
		return out;
	}
	unsigned long long unit = 1024;
	for (int u = 1;; u++, unit *= 1024) {
		unsigned long long whole = n / unit;
		unsigned long long rest = n % unit; // rest < 2^60: rest * 10 fits
		unsigned long long tenths = whole * 10 + (rest * 10 + unit / 2) / unit;
		if (tenths < 100) {
			std::snprintf(out, sizeof out, "%s%llu.%llu%c", sign, tenths / 10,
			              tenths % 10, units[u]);
			return out;
		}
		unsigned long long rounded = whole + (rest >= unit - rest ? 1 : 0);
		if (rounded < 1024 || u == 6) {
			std::snprintf(out, sizeof out, "%s%llu%c", sign, rounded, units[u]);
			return out;
		}
	}
}

std::string local_minute(std::time_t when)
{
	std::tm tm{};
	char out[64];
	if (::localtime_r(&when, &tm) == nullptr ||
	    std::strftime(out, sizeof out, "%Y-%m-%d %H:%M", &tm) == 0)
		return "-";
	return out;
}

std::string local_iso(std::time_t when)
{
	std::tm tm{};
	char stamp[48];
	if (::localtime_r(&when, &tm) == nullptr ||
	    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &tm) == 0)
		return "";
	// ISO 8601's extended form: the offset from UTC as +hh:mm.
	long offset = tm.tm_gmtoff;
	char sign = offset < 0 ? '-' : '+';
	offset = offset < 0 ? -offset : offset;
	char zone[32];
	std::snprintf(zone, sizeof zone, "%c%02ld:%02ld", sign, offset / 3600 % 100,
	              offset / 60 % 60);
	return std::string(stamp) + zone;
}

} // namespace figures
