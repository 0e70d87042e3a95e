// SPDX-License-Identifier: ISC
// census.h - every account of the password file, its mailbox measured and
// judged exactly as spoolnag and the delivery side judge it.
//
// Accounts come from account::getpwent (the flat password file, in file
// order); a uid seen before is passed over, so each uid counts once, as its
// first line. Each mailbox is measured (one stat: size and time) and judged
// by the verdict (verdict.h), under the limit in force or under proposed
// values. Uses the account
// module's process-wide state: single-threaded, and it ends with that
// module's sources closed.
#ifndef SPOOLSTAT_CENSUS_H
#define SPOOLSTAT_CENSUS_H

#include <sys/types.h>

#include <cstddef>
#include <ctime>
#include <string>
#include <vector>

#include "limitinfo.h"

namespace census {

struct Account {
	std::string login;
	int uid = 0;            // as the limit compares it: signed 32-bit
	long long size = 0;     // true size in bytes; 0 when missing or unexaminable
	bool over = false;      // the limit's verdict on the saturated size
	bool has_mtime = false; // the mailbox could be examined
	std::time_t mtime = 0;  // its last change, from the same look as size
};

struct Result {
	std::vector<Account> accounts; // those the limit applies to, file order
	std::size_t over = 0;          // how many of them are over
	// The errno of a read of the password file that failed (the walk ended
	// there: the accounts after it are missing), else 0.
	int read_error = 0;
};

// 0 when the password file at path can be opened and read, else the errno
// of the failure (regular::not_regular for a FIFO or a device, which is
// never read). getpwent alone cannot tell an unreadable file from an empty
// one.
int unreadable(const char *path);

// The sysexits code for a password file that failed with err.
int exit_code(int err);

// Walks the password file from its first line and returns the accounts the
// limit applies to, each examined and judged; a read that fails ends the
// walk, and the result says so (read_error).
Result take(const limitinfo::Limit &limit);

} // namespace census

#endif
