// SPDX-License-Identifier: ISC
// report.h - writing the report, as aligned text or as JSON.
//
// Both forms state the limit judged by (or that it is off, and why), how
// many accounts it applies to and how many are over, the warnings (text:
// "warning: ..." lines; JSON: "database" and "warnings"), then the rows in the
// order given. Login names are escaped (escape.h). Write errors are left in
// the stream's error flag for the caller to check. Not thread-safe only in
// that it reads the process's time zone and strerror text.
#ifndef SPOOLSTAT_REPORT_H
#define SPOOLSTAT_REPORT_H

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "limitinfo.h"
#include "listing.h"
#include "warnings.h"

namespace report {

struct Summary {
	limitinfo::Limit limit;
	std::size_t limited = 0;                 // accounts the limit applies to
	std::size_t over = 0;                    // of those, over it
	int percent = -1;                        // the threshold asked for, -1 for none
	warnings::Database database;             // the hashed database against the file
	std::vector<warnings::Warning> warnings; // what the users see otherwise
};

void text(std::FILE *out, const Summary &summary, const std::vector<listing::Row> &rows);
void json(std::FILE *out, const Summary &summary, const std::vector<listing::Row> &rows);

} // namespace report

#endif
