// SPDX-License-Identifier: ISC
// mailbox.h - where a user's system mailbox is and what one look at it
// tells: its size and when it last changed.
#ifndef SPOOL_MAILBOX_H
#define SPOOL_MAILBOX_H

#include <cstddef>
#include <ctime>

#include <sys/types.h>

#include "sitepaths.h"

namespace mailbox {

using site::spool_dir;
// Room for the path with its terminator: login names of up to 1013
// characters fit.
inline constexpr std::size_t path_size = 1024;

// Writes spool_dir followed by login into buf (path_size bytes). False, with
// buf empty, when the path would not fit: no truncated path is ever made.
bool path(char (&buf)[path_size], const char *login);

// What one stat of a mailbox gives.
struct Status {
	bool known = false;    // the file is there and could be examined
	int error = 0;         // when not known: the errno of the failed stat,
	                       // or one of the refusals of examine_owned
	long long size = 0;    // its size in bytes; 0 when not known
	std::time_t mtime = 0; // its last modification; 0 when not known
};

// The status of the file path leads to (symbolic links followed), from one
// stat, so that size and time describe the same file.
Status examine(const char *path);

// Why examine_owned does not count a file: values that are no errno.
inline constexpr int not_owned = -1;    // not a regular file of its owner
inline constexpr int foreign_link = -2; // a symbolic link not owned by root
inline constexpr int hard_linked = -3;  // a file with more than one link

// The status of path as the refusal side counts it: a regular file with one
// link, owned by owner, reached directly or through symbolic links that are
// all root's (as Postfix's local(8) follows one into a mailbox), the links
// in the folders on the way included; at most 40 links are followed
// (ELOOP). Anything else is not known, with error not_owned, foreign_link
// or hard_linked. A user who may write the spool thus cannot make another
// user's mailbox look full with a file, a hard link or a link of their own,
// nor choose with a link in the chain which of the account's files counts.
// Each name is opened without following it and judged by fstat, so the file
// counted is the one judged.
Status examine_owned(const char *path, uid_t owner);

} // namespace mailbox

#endif
