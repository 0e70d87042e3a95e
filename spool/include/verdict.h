// SPDX-License-Identifier: ISC
// verdict.h - the one place where a user's system mailbox is measured and
// judged against the site's limit. Every front end (spoolnag, the PAM module,
// boxpolicy, spoolstat, spoolwarn) asks here and only presents the answer;
// none measures or compares by itself.
//
// judge() builds /var/mail/<login> from the account, examines it with one
// stat (symbolic links followed; for the refusal side, Look::owned, only a
// regular file the account owns counts, through a link only when root owns
// it: see mailbox::examine_owned), and applies the limit rule of boxquota.h
// (OverMailLimit) to the mailbox's size plus the bytes a message would add,
// the sum saturated to the rule's 32-bit sizes so that 2 GiB and more is
// judged as the largest size, never a wrapped one. A mailbox that cannot be
// examined counts as empty (size 0), whatever the reason; the reason is kept
// in `error` for front ends that report or log it.
//
// The limit comes from libboxquota (read once per process); a report may
// pass proposed values instead, judged by the same rule. Allocates nothing,
// needs nothing of the C++ runtime. Not thread-safe, as libboxquota is not.
// Files read: the mailbox's status, and /var/mail/.boxquota through
// libboxquota.
#ifndef SPOOL_VERDICT_H
#define SPOOL_VERDICT_H

#include <pwd.h>

#include <cerrno>
#include <ctime>

#include "mailbox.h"

namespace verdict {

// Limit values as the limit file gives them: the lowest uid limited and the
// largest size allowed. A 0 in either turns the limit off.
struct Limit {
	int min_uid = 0;
	int max_size = 0;
};

struct Verdict {
	long long size = 0;     // the mailbox's size in bytes; 0 unless examined
	std::time_t mtime = 0;  // its last modification; 0 unless examined
	int error = 0;          // 0: examined; ENOENT: there is no mailbox;
	                        // ENAMETOOLONG: the login is too long for a path;
	                        // not_owned, foreign_link: not counted (Look::owned);
	                        // else the errno of the failed stat (EACCES, ...)
	long long incoming = 0; // bytes the message would add (0 and up)
	int uid = 0;            // the account's uid as the rule compares it
	Limit limit;            // the limit judged by
	bool over = false;      // size + incoming is over the limit for uid
};

// How the mailbox is looked at. any: whatever the path leads to, as a user
// sees their own mailbox (spoolnag, the PAM module, spoolstat). owned: only
// a regular file owned by the account, reached directly or through a link
// owned by root, so that no other user's file decides a refusal (boxpolicy,
// spoolwarn); anything else is not examined (error not_owned or
// foreign_link), so blind.
enum class Look { any, owned };

using mailbox::foreign_link;
using mailbox::not_owned;

// The reason error gives, as a log line words it: strerror's text, or
// what not_owned and foreign_link mean. Static text, never null.
const char *reason(int error);

// Whether the mailbox could be examined.
inline bool examined(const Verdict &v)
{
	return v.error == 0;
}

// Whether the mailbox could not be examined for a reason other than its
// absence: the check is then blind, since an empty mailbox is assumed.
inline bool blind(const Verdict &v)
{
	return v.error != 0 && v.error != ENOENT;
}

// Judges pw's mailbox under the limit in force (libboxquota), with incoming
// more bytes (negative counts as 0), looked at as look says.
Verdict judge(const passwd &pw, long long incoming = 0, Look look = Look::any);

// The same under proposed limit values instead of the configured ones (or
// values the caller read from the limit file itself, as verdict_c.h does).
Verdict judge(const passwd &pw, long long incoming, Limit proposed, Look look = Look::any);

// The largest size the rule is asked about: size saturated to [0, INT_MAX].
int rule_size(long long size);

// a + b for sizes of 0 and up, saturated at the largest long long.
long long saturated_sum(long long a, long long b);

} // namespace verdict

#endif
