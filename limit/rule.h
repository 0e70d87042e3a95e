// rule.h - the over-limit rule itself, given the two limit values (internal
// header). boxquota applies it to the configured values; report tools apply
// it to proposed ones. Internal linkage: nothing here is exported.
#ifndef LIMIT_RULE_H
#define LIMIT_RULE_H

namespace limit {

// 1 when a limit of (min_user, max_size) applies to uid and size is over it.
// A 0 in either value switches the limit off; equal to max_size is within.
static inline int over(int min_user, int max_size, int uid, int size)
{
	if (min_user == 0 || uid < min_user || max_size == 0)
		return 0;
	return size > max_size ? 1 : 0;
}

} // namespace limit

#endif
