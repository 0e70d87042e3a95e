// SPDX-License-Identifier: ISC
// getpwent.h - the system's own account lookup, over the flat password file
// (and, where one opens at the same path, its hashed database).
//
// The operations carry the platform's names and signatures but live in
// namespace account, so a program calls account::getpwuid and never the C
// library's by accident. Results point at one module-owned record whose
// strings stay valid until the next lookup call; copy what you need.
// Single-threaded: no call may run concurrently with another.
#ifndef ACCOUNT_GETPWENT_H
#define ACCOUNT_GETPWENT_H

#include <pwd.h>
#include <sys/types.h>

namespace account {

// The first account with this user id, or null.
passwd *getpwuid(uid_t uid);
// The first account with exactly this login name, or null.
passwd *getpwnam(const char *name);
// The next account of the flat password file, or null at its end, or null
// when the file could not be opened or a read failed (pwent_error tells
// which).
passwd *getpwent();
// What ended the walk of getpwent: 0 while it hands out accounts and after
// it returned null at the true end of the flat file; else the errno of the
// open (regular::not_regular for what is not a regular file) or the read
// that failed, after which getpwent returned null. Only getpwent sets it (a
// keyed lookup's read error is a "not found" and no more). It is back to 0
// when a new walk starts, that is whenever the flat file is opened, rewound
// or closed: always by endpwent; by setpwent, setpassent and the keyed
// lookups when they open or rewind it (no database open) or close it
// (stay-open off).
int pwent_error();
// Opens (or rewinds) a source, stay-open off.
void setpwent();
// Opens (or rewinds) a source and sets stay-open; 1 on success, 0 if no
// source could be opened (the flag is then unchanged).
int setpassent(int stayopen);
// Closes every open source.
void endpwent();
// Reads the password data from file from the next opening on; file must stay
// valid while in use. Default "/etc/passwd".
void setpwfile(const char *file);

} // namespace account

#endif
