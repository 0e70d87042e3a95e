// SPDX-License-Identifier: ISC
// warnings.h - what would make the users see something other than the
// report: a hashed password database out of step with the flat file (the
// lookup then misses accounts or names them differently, and spoolnag stays
// silent for them), a limit file the users it limits cannot read (the limit
// is then off for their spoolnag and their delivery agents, though root
// sees it in force), and a limit file or folder that someone other than
// root may change, or a missing limit file that someone other than root may
// create; and, said with them, a listing cut short by a read error of the
// password file. Reads and examines only; never changes a file.
// Uses the account module's process-wide state (single-threaded) and ends
// with its sources closed.
#ifndef SPOOLSTAT_WARNINGS_H
#define SPOOLSTAT_WARNINGS_H

#include <cstddef>
#include <string>
#include <vector>

namespace warnings {

struct Warning {
	std::string code; // stable, for scripts: "database-stale", "limit-unreadable", ...
	std::string text; // one line, for the administrator
};

// How the hashed database beside the password file answers for the flat
// file's accounts (each uid once, its first line), looked up by uid as
// spoolnag looks up its caller.
struct Database {
	bool present = false;    // the database exists, so lookups use it alone
	std::size_t missing = 0; // accounts it does not find
	std::size_t differs = 0; // accounts it finds under another login
};

// Compares the database of the password file at path with the file.
Database database(const char *path);

// Adds the warning for a database that disagrees with the flat file.
void add_database(const Database &db, const char *path, std::vector<Warning> *out);

// Adds the warning for a listing cut short by err, a read error of the
// password file at path.
void add_read_error(int err, const char *path, std::vector<Warning> *out);

// Adds the warnings for the limit file at path: whom it cannot be read by,
// and who but root could change it or its folders. When the file does not
// exist, who but root could create it through its folders.
void add_limit_file(const char *path, std::vector<Warning> *out);

} // namespace warnings

#endif
