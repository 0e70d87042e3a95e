// SPDX-License-Identifier: ISC
// thresholds - the warning and re-arm rule (thresholds.h).
//
// Sizes are compared as size * 100 against threshold * limit; a size too
// large for that product is held at the largest that fits, far above any
// 32-bit limit, so the comparison never overflows.
#include "thresholds.h"

#include <algorithm>
#include <climits>

namespace thresholds {
namespace {

long long hundredfold(long long size)
{
	constexpr long long top = LLONG_MAX / 100;
	return size > top ? top * 100 : size < 0 ? 0 : size * 100;
}

// Whether size has reached pct percent of limit.
bool reached(long long size, int limit, int pct)
{
	return hundredfold(size) >= static_cast<long long>(pct) * limit;
}

bool contains(std::span<const int> set, int value)
{
	return std::binary_search(set.begin(), set.end(), value);
}

} // namespace

long long percent(long long size, int limit)
{
	return limit > 0 ? hundredfold(size) / limit : 0;
}

long long to_delete(long long size, int limit, int threshold)
{
	// The largest size below threshold: ceil(threshold * limit / 100) - 1.
	long long product = static_cast<long long>(threshold) * (limit > 0 ? limit : 0);
	long long below = (product + 99) / 100 - 1;
	return size > below ? size - below : 0;
}

Step step(std::span<const int> thresholds, std::span<const int> marked, long long size, int limit,
          bool over)
{
	Step s;
	std::vector<int> due;
	for (int t : thresholds) {
		bool hit = over || limit <= 0 || reached(size, limit, t);
		if (contains(marked, t)) {
			// Stays marked unless it fell more than the hysteresis below.
			if (hit || reached(size, limit, t - hysteresis))
				s.marks.push_back(t);
		} else if (hit) {
			due.push_back(t);
		}
	}
	s.unsent = s.marks;
	if (due.empty())
		return s;
	if (!over)
		s.letter = due.back();
	s.marks.insert(s.marks.end(), due.begin(), due.end());
	std::sort(s.marks.begin(), s.marks.end());
	return s;
}

} // namespace thresholds
