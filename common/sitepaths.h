// SPDX-License-Identifier: ISC
// sitepaths.h - the fixed places of a mail host, defined once for the whole
// system: the mail spool, the limit configuration file in it, the password
// file, and spoolwarn's state folder. Every program and library of the
// system takes them from here; moving the spool means changing this file
// alone. (The delivery-side example, examples/boxcheck.c, is a
// self-contained C program for others to copy and repeats the spool folder;
// a test holds it to this one.)
//
// Header-only, constants with internal linkage: libboxquota.a compiles this
// in and still exports nothing but its three functions.
#ifndef COMMON_SITEPATHS_H
#define COMMON_SITEPATHS_H

#include <string_view>

namespace site {

// The mail spool: a user's system mailbox is this folder followed by the
// login name.
constexpr char spool_dir[] = "/var/mail/";

// The site's limit configuration file (boxquota(5)).
constexpr char limit_file[] = "/var/mail/.boxquota";
static_assert(std::string_view(limit_file).starts_with(spool_dir),
              "the limit file is in the spool");

// The password file, and the base name of its hashed database beside it.
constexpr char passwd_file[] = "/etc/passwd";

// The host's mail name (Debian's convention): spoolwarn's letters are
// addressed in its domain.
constexpr char mailname_file[] = "/etc/mailname";

// spoolwarn's state: which warning letters each login has been sent. The
// folder belongs to spoolwarn alone (systemd's StateDirectory=).
constexpr char state_dir[] = "/var/lib/spoolwarn";

} // namespace site

#endif
