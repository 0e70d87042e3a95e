// SPDX-License-Identifier: ISC
// limitinfo.h - the limit in force (or a proposed one), and why it is off
// when it is: for every tool that tells the administrator about the limit
// (spoolstat's report, spoolwarn's run).
//
// The configured limit is what the boxquota library reports (MinLimitUid,
// MailLimit); the library only says 0 when the limit is off, so the reason
// is found by looking at the configuration file again, read-only. A
// proposed limit is taken as given and the file is not looked at.
// Not thread-safe (the library is not).
#ifndef SPOOL_LIMITINFO_H
#define SPOOL_LIMITINFO_H

#include <string>

namespace limitinfo {

// Why the limit applies to nobody.
enum class Off {
	none,       // the limit is on
	no_file,    // there is no configuration file
	unreadable, // it cannot be opened or read (see err)
	no_values,  // it holds no value
	one_value,  // it holds one value only
	min_zero,   // the lowest uid is 0
	max_zero,   // the largest size is 0
	changed,    // the file now says otherwise: it changed in the meantime
};

struct Limit {
	int min_user = 0;      // lowest uid limited
	int max_size = 0;      // largest size still allowed
	bool proposed = false; // a --what-if limit, not the one in force
	Off off = Off::none;
	int err = 0; // errno behind Off::unreadable
};

// The limit in force, as the library loads it, with the reason when off.
Limit configured();

// A limit of the two values as the configuration file would give them.
Limit proposed(int min_user, int max_size);

// Why a file at path from which the library loaded (min_user, max_size)
// turns the limit off; Off::none when those values turn it on. *err is set
// for Off::unreadable. Reads the file the way the library does (pieces of
// up to 255 characters, '#' comments, a leading decimal number a value).
Off explain(const char *path, int min_user, int max_size, int *err);

// Whether the limit applies to anyone (by the rule of the library), and
// whether it applies to uid. Every account the rule can find over is one
// the limit applies to.
bool on(const Limit &limit);
bool covers(const Limit &limit, int uid);

// Why the limit is off, in words ("no file /var/mail/.boxquota", ...);
// empty when it is on.
std::string off_text(const Limit &limit);

} // namespace limitinfo

#endif
