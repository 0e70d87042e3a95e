// SPDX-License-Identifier: ISC
// thresholds.h - when a mailbox earns a warning letter, and when a warning
// given re-arms.
//
// A threshold is a whole percentage of the limit (1 to 100). A mailbox has
// reached it when size * 100 >= threshold * limit. Each login carries the
// thresholds already dealt with (its marks). One look at a mailbox:
//   - a mark whose threshold the mailbox is now more than `hysteresis`
//     points below (size * 100 < (threshold - 5) * limit) is dropped: the
//     threshold re-arms;
//   - every unmarked threshold reached is due. Over the limit, the due ones
//     are marked without a letter (it would be refused); otherwise one
//     letter names the highest one due, and all due ones are marked once it
//     is sent.
// So a user hears once per threshold crossed, never on every run, and a
// first run (no marks) warns those already above a threshold once.
//
// Pure functions on values: no state, no I/O, thread-safe.
#ifndef SPOOLWARN_THRESHOLDS_H
#define SPOOLWARN_THRESHOLDS_H

#include <span>
#include <vector>

namespace thresholds {

// Points below a threshold a mailbox must fall before it re-arms.
inline constexpr int hysteresis = 5;

struct Step {
	std::vector<int> marks;  // the marks after this look (the letter
	                         // sent, if any), ascending
	std::vector<int> unsent; // the marks should the letter not go out
	int letter = 0;          // the threshold to write about; 0: no letter
};

// One look at a mailbox of size bytes under a limit of limit bytes (its
// largest allowed size; 0 or less: every size counts as over), over as the
// verdict says. thresholds: the thresholds in force, ascending, no
// duplicates; marked: the login's marks, ascending (marks of thresholds no
// longer in force are dropped).
Step step(std::span<const int> thresholds, std::span<const int> marked, long long size, int limit,
          bool over);

// The mailbox's share of the limit in whole percent, rounded down (0 when
// the limit is 0 or less).
long long percent(long long size, int limit);

// The bytes to delete to bring a mailbox below threshold again (0 if it is
// below already).
long long to_delete(long long size, int limit, int threshold);

} // namespace thresholds

#endif
