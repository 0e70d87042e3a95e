// SPDX-License-Identifier: ISC
// pwpack.h - writing the hashed database's account records (internal), for
// pwdb and the tests: the layout pwrecord.h describes. Kept apart from the
// reading side, which the login programs link without the C++ runtime.
#ifndef ACCOUNT_PWPACK_H
#define ACCOUNT_PWPACK_H

#include <pwd.h>

#include <string>

namespace account::record {

// The stored record for pw with the given flag byte.
std::string pack(const passwd &pw, char flag);

// The key under which the record for uid is stored.
std::string uid_key(uid_t uid);

} // namespace account::record

#endif
