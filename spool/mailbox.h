// mailbox.h - where a user's system mailbox is and how large it is.
#ifndef CHECK_MAILBOX_H
#define CHECK_MAILBOX_H

#include <cstddef>

namespace mailbox {

inline constexpr char spool_dir[] = "/var/mail/";
// Room for the path with its terminator: login names of up to 1013
// characters fit.
inline constexpr std::size_t path_size = 1024;

// Writes spool_dir followed by login into buf (path_size bytes). False, with
// buf empty, when the path would not fit: no truncated path is ever made.
bool path(char (&buf)[path_size], const char *login);

// The size in bytes of the file path leads to (symbolic links followed);
// 0 when there is none or it cannot be examined.
long long size(const char *path);

// A size as the 32-bit limit interface takes it: saturated, so a mailbox of
// 2 GiB or more is judged as the largest size, never a wrapped one.
int limit_size(long long size);

} // namespace mailbox

#endif
