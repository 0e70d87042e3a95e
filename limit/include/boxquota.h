/* SPDX-License-Identifier: ISC */
/*
 * boxquota.h - the site's mailbox size limit, for C and C++ programs.
 *
 * The limit is read from /var/mail/.boxquota on the first call of any of
 * these functions and kept for the life of the process. A missing or short
 * file, or a 0 in either place, turns the limit off. No function prints,
 * allocates or fails. Not thread-safe: make the first call before starting
 * threads.
 */
#ifndef BOXQUOTA_H
#define BOXQUOTA_H

#ifdef __cplusplus
extern "C" {
#endif

/* The lowest user id the limit applies to; 0 when it applies to nobody. */
int MinLimitUid(void);

/* The largest mailbox size in bytes still within the limit; 0: no limit. */
int MailLimit(void);

/* 1 when the limit applies to uid and size is over it, else 0. */
int OverMailLimit(int uid, int size);

#ifdef __cplusplus
}
#endif

#endif
