// SPDX-License-Identifier: ISC
// pwrecord.h - the stored record of the hashed password database (internal).
//
// Layout, nothing between the fields: login name NUL, password field NUL,
// uid (4 bytes, native order, unaligned), gid (likewise), gecos NUL, home
// NUL, shell NUL, one flag byte. Keys: the login name's bytes without a NUL,
// and the uid as 4 native bytes.
#ifndef ACCOUNT_PWRECORD_H
#define ACCOUNT_PWRECORD_H

#include <pwd.h>

#include <cstddef>

namespace account::record {

// Unpacks the value of n bytes into buf (size bytes), pointing pw's strings
// at the copies, and stores the flag byte in *flag. Reads only value[0..n)
// and writes only buf[0..size). False, with pw and *flag untouched (buf may
// hold part of the record), when
// the record is malformed: a string without its NUL inside the value, too
// short for the ids or the flag, or strings that do not fit buf.
bool unpack(const char *value, std::size_t n, char *buf, std::size_t size, passwd *pw, char *flag);

} // namespace account::record

#endif
