// SPDX-License-Identifier: ISC
// verdict - measuring and judging one mailbox (verdict.h).
//
// The rule itself is libboxquota's: OverMailLimit for the limit in force,
// limit::over (the same rule, rule.h) for proposed values. This file is the
// only caller of OverMailLimit outside the library.
#include "verdict.h"

#include <cerrno>
#include <climits>
#include <cstring>

#include "boxquota.h"
#include "mailbox.h"
#include "rule.h"

namespace verdict {
namespace {

// Examines pw's mailbox into v; the rest of v is left to the caller.
void measure(const passwd &pw, long long incoming, Look look, Verdict &v)
{
	v.uid = static_cast<int>(pw.pw_uid); // compared as a signed 32-bit id
	v.incoming = incoming > 0 ? incoming : 0;
	// A name too long for the path is never shortened into another path;
	// its mailbox counts as one that cannot be examined.
	char path[mailbox::path_size];
	if (!mailbox::path(path, pw.pw_name)) {
		v.error = ENAMETOOLONG;
		return;
	}
	mailbox::Status box =
	    look == Look::owned ? mailbox::examine_owned(path, pw.pw_uid) : mailbox::examine(path);
	if (!box.known) {
		v.error = box.error != 0 ? box.error : EIO;
		return;
	}
	v.size = box.size;
	v.mtime = box.mtime;
}

} // namespace

const char *reason(int error)
{
	if (error == not_owned)
		return "not a regular file owned by its account";
	if (error == foreign_link)
		return "a symbolic link not owned by root";
	return std::strerror(error);
}

int rule_size(long long size)
{
	return size > INT_MAX ? INT_MAX : size < 0 ? 0 : static_cast<int>(size);
}

long long saturated_sum(long long a, long long b)
{
	return b > LLONG_MAX - a ? LLONG_MAX : a + b;
}

Verdict judge(const passwd &pw, long long incoming, Look look)
{
	Verdict v;
	measure(pw, incoming, look, v);
	v.over = OverMailLimit(v.uid, rule_size(saturated_sum(v.size, v.incoming))) != 0;
	v.limit = Limit{MinLimitUid(), MailLimit()};
	return v;
}

Verdict judge(const passwd &pw, long long incoming, Limit proposed, Look look)
{
	Verdict v;
	measure(pw, incoming, look, v);
	v.limit = proposed;
	v.over = limit::over(proposed.min_uid, proposed.max_size, v.uid,
	                     rule_size(saturated_sum(v.size, v.incoming))) != 0;
	return v;
}

} // namespace verdict
