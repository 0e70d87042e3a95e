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

namespace decimal {

// Converts the leading number of the C string s. Returns 1 and stores the
// value (saturated to the range of long long) when at least one digit was
// read, else returns 0 and leaves *out alone.
static inline int leading_ll(const char *s, long long *out)
{
	while (*s == ' ' || (*s >= '\t' && *s <= '\r'))
		s++;
	bool negative = false;
	if (*s == '+' || *s == '-')
		negative = *s++ == '-';
	if (*s < '0' || *s > '9')
		return 0;
	// Accumulate towards the negative end, which has the larger magnitude.
	long long value = 0;
	for (; *s >= '0' && *s <= '9'; s++) {
		int digit = *s - '0';
		if (value < (LLONG_MIN + digit) / 10) {
			value = LLONG_MIN;
			while (s[1] >= '0' && s[1] <= '9')
				s++;
			continue;
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
static inline int leading_int(const char *s, int *converted = nullptr)
{
	long long v = 0;
	int ok = leading_ll(s, &v);
	if (converted)
		*converted = ok;
	return clamp_int(v);
}

} // namespace decimal

#endif
