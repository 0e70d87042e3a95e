// SPDX-License-Identifier: ISC
// strsep.h - field splitting for the account module (internal header).
#ifndef ACCOUNT_STRSEP_H
#define ACCOUNT_STRSEP_H

namespace account {

// Returns the token at *stringp, ending it at the first character of delim
// (overwritten with NUL; *stringp then points past it) or at the end of the
// string (*stringp becomes null). Returns null when *stringp is null.
char *strsep(char **stringp, const char *delim);

} // namespace account

#endif
