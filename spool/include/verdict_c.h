/* SPDX-License-Identifier: ISC */
/* verdict_c.h - the verdict (verdict.h) for callers in C: Dovecot's quota
 * backend asks here for a user's mailbox and the limit that applies to it,
 * and only presents the answer.
 *
 * verdict_c_judge() looks at /var/mail/<login> as the refusal side does (a
 * regular file owned by uid; anything else counts as empty) and judges it
 * with `incoming` more bytes under the limit file's values as they are now.
 * Unlike libboxquota, which reads /var/mail/.boxquota once per process, it
 * reads the file again, the library's way, whenever the file's status
 * (device, inode, size, modification or change time) differs from the last
 * reading, and at least every VERDICT_C_REREAD seconds; so a long-running
 * process sees a changed limit at once, and at the latest after that time
 * when the file was rewritten within one timestamp tick.
 *
 * Plain C linkage; nothing allocated, no C++ runtime needed. Process-wide
 * state (the last reading) without locking: not thread-safe. */
#ifndef SPOOL_VERDICT_C_H
#define SPOOL_VERDICT_C_H

#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The longest a reading of the limit file is trusted without a new one. */
#define VERDICT_C_REREAD 30

struct verdict_c {
	long long size;     /* the mailbox's size in bytes as counted; 0 unless
	                       examined */
	long long incoming; /* the bytes judged on top of it (0 and up) */
	int error;          /* 0: examined; ENOENT: no mailbox; EINVAL: the
	                       login names no file in the spool; else the reason
	                       the mailbox was not counted (verdict.h) */
	int min_uid;        /* the limit file's values now: lowest uid limited */
	int max_size;       /* and largest size allowed; a 0 turns the limit off */
	int covered;        /* 1 when the limit applies to uid */
	int over;           /* 1 when size + incoming is over it */
};

/* Judges login's mailbox for the account uid, with incoming more bytes
 * (negative counts as 0). Fills *out completely; never fails. */
void verdict_c_judge(const char *login, uid_t uid, long long incoming,
                     struct verdict_c *out);

#ifdef __cplusplus
}
#endif

#endif
