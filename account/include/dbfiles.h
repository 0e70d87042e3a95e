// SPDX-License-Identifier: ISC
// dbfiles.h - whether a hashed password database is there to open
// (internal header).
#ifndef ACCOUNT_DBFILES_H
#define ACCOUNT_DBFILES_H

namespace account {

// True when path.pag and path.dir both exist as distinct regular files. The
// ndbm library creates a missing .dir even when asked to open read-only, so
// readers call it only when this holds.
bool db_files_present(const char *path);

} // namespace account

#endif
