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
// The next account of the flat password file, or null at its end.
passwd *getpwent();
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
