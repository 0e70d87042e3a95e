// SPDX-License-Identifier: ISC
// mailname.h - the host's mail name, the domain the letter's addresses are
// qualified with (mail servers refuse, or rewrite, addresses without one).
//
// Debian keeps it as the first line of /etc/mailname; without a usable one
// the host name (gethostname) serves as it is, dotted or not, and
// "localhost" when even that is no domain. The file is read as every file
// of the system is (common/regular.h): only a regular file, opened
// without waiting, and no more than its first 256 bytes; a line that is
// not a domain name (blanks inside, an '@', an empty label, more than 253
// characters) counts as no file. Whatever comes back can stand after '@'
// in a header: it holds letters, digits, '-' and '.' alone.
//
// No diagnostics. Thread-safe.
#ifndef SPOOLWARN_MAILNAME_H
#define SPOOLWARN_MAILNAME_H

#include <string>
#include <string_view>

namespace mailname {

// The mail name, from file (the first line, blanks around it trimmed) or
// from the host name.
std::string lookup(const char *file);

// Whether name is a domain name as a mail address may end in: labels of
// 1 to 63 letters, digits and '-', neither first nor last a '-', joined
// by single dots; 253 characters at most.
bool is_domain(std::string_view name);

} // namespace mailname

#endif
