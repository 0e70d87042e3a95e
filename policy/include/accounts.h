// SPDX-License-Identifier: ISC
// accounts.h - the host's accounts, as boxpolicy asks for them: the
// system's own lookup (account::getpwnam, as spoolnag finds its user).
//
// A long-lived connection asks for many accounts, so the lookup is kept
// open between requests (setpassent(1)): the hashed database's directory
// is read once, not once per request. What stays open is an old file when
// the password file or its database is replaced (pwdb and the account
// tools write a new file and rename it into place) or, for the database,
// an old cache when it is changed in place. So before every lookup the
// password file and both database files are looked at (stat: identity,
// size, change and modification times, or absence); when any differs
// from what it was when the lookup was opened, the lookup is closed and
// opened again. A lookup therefore answers from the files as they are at
// that moment, as a fresh process would.
//
// Uses the account module's process-wide state: one System per process,
// single-threaded. Reads /etc/passwd (or its database); writes nothing,
// logs nothing.
#ifndef POLICY_ACCOUNTS_H
#define POLICY_ACCOUNTS_H

#include <sys/stat.h>

#include "judge.h"

namespace accounts {

class System final : public judge::Mailboxes {
public:
	System() = default;
	System(const System &) = delete;
	System &operator=(const System &) = delete;
	~System();

	const passwd *find(const char *login) override;

private:
	// What a password file looked like when the lookup was opened.
	struct Seen {
		bool present = false;
		struct stat st = {};
	};
	bool changed();

	bool open_ = false;
	Seen seen_[3]; // the password file, its .pag and its .dir
};

} // namespace accounts

#endif
