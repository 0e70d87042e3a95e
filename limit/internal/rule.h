// SPDX-License-Identifier: ISC
// rule.h - the over-limit rule itself, given the two limit values (internal
// header). boxquota applies it to the configured values; report tools apply
// it to proposed ones and ask it whether a limit is on at all. Internal
// linkage: nothing here is exported.
#ifndef LIMIT_RULE_H
#define LIMIT_RULE_H

namespace limit {

// Whether a limit of (min_user, max_size) applies to anyone: a 0 in either
// value switches the limit off.
static inline bool on(int min_user, int max_size)
{
	return min_user != 0 && max_size != 0;
}

// Whether a limit of (min_user, max_size) applies to uid: an off limit
// applies to nobody.
static inline bool covers(int min_user, int max_size, int uid)
{
	return on(min_user, max_size) && uid >= min_user;
}

// 1 when a limit of (min_user, max_size) applies to uid and size is over it.
// Equal to max_size is within.
static inline int over(int min_user, int max_size, int uid, int size)
{
	if (!covers(min_user, max_size, uid))
		return 0;
	return size > max_size ? 1 : 0;
}

} // namespace limit

#endif
