// SPDX-License-Identifier: ISC
// warning.h - the text that tells a user their mailbox is over the limit.
#ifndef SPOOL_WARNING_H
#define SPOOL_WARNING_H

#include <cstddef>
#include <span>

namespace warning {

// Room for the warning of any login name the account lookup hands out (its
// records hold lines of under 1024 bytes).
inline constexpr std::size_t text_size = 2048;

// Writes into buf, with its terminator, the warning about the mailbox of
// login (under the spool directory), size bytes large, under a limit whose
// largest allowed size is limit:
//
//   "\n** WARNING: system mailbox /var/mail/LOGIN is over quota (SIZE bytes). **\n"
//   "** Until YOU make it less then LIMIT+1 bytes, you will receive NO MORE MAIL. **\n\n"
//
// Returns the length of the whole text, as snprintf does. A result of
// buf.size() or more means it did not fit: buf then holds a cut text that is
// never to be shown.
std::size_t format(std::span<char> buf, const char *login, long long size, int limit);

} // namespace warning

#endif
