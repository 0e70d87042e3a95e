// SPDX-License-Identifier: ISC
// decimal.h - leading decimal number conversion that cannot overflow.
//
// Reads a number the way the C library's %d, atoi and atol read one:
// optional white space (space, \t, \n, \v, \f, \r), an optional sign, then
// decimal digits, stopping at the first non-digit. Leading zeros do not make
// it octal and "0x10" reads as 0. Where those functions leave an out-of-range
// value undefined, these saturate to the nearest representable value.
//
// Header-only, internal linkage: the C-linkable limit library includes it and
// must export nothing but its three functions. Pure functions, thread-safe.
#ifndef COMMON_DECIMAL_H
#define COMMON_DECIMAL_H

#include <climits>
#include <cstddef>
#include <string_view>

namespace decimal {

// Converts the leading number of s, which ends at its end or at the first
// byte that cannot continue the number (a NUL among them). Returns 1 and
// stores the value (saturated to the range of long long) when at least one
// digit was read, else returns 0 and leaves *out alone.
static inline int leading_ll(std::string_view s, long long *out)
{
	std::size_t i = 0;
	while (i < s.size() && (s[i] == ' ' || (s[i] >= '\t' && s[i] <= '\r')))
		i++;
	bool negative = false;
	if (i < s.size() && (s[i] == '+' || s[i] == '-'))
		negative = s[i++] == '-';
	if (i == s.size() || s[i] < '0' || s[i] > '9')
		return 0;
	// Accumulate towards the negative end, which has the larger magnitude;
	// once saturated, the remaining digits change nothing.
	long long value = 0;
	for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; i++) {
		int digit = s[i] - '0';
		if (value < (LLONG_MIN + digit) / 10) {
			value = LLONG_MIN;
			break;
		}
		value = value * 10 - digit;
	}
	if (!negative)
		value = value == LLONG_MIN ? LLONG_MAX : -value;
	*out = value;
	return 1;
}

// Saturates to the range of a signed 32-bit int.
static inline int clamp_int(long long v)
{
	return v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : static_cast<int>(v);
}

// The number as %d would give it, saturated; 0 when none converts (as atoi).
static inline int leading_int(std::string_view s, int *converted = nullptr)
{
	long long v = 0;
	int ok = leading_ll(s, &v);
	if (converted)
		*converted = ok;
	return clamp_int(v);
}

} // namespace decimal

#endif
