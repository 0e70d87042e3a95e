// SPDX-License-Identifier: ISC
// listing.h - which accounts the report lists, in which order, and with
// which figures.
//
// Always listed: every account over the limit. With a threshold, also those
// at or above that share of it; with "all", every account the limit applies
// to. Order: how far over, largest first; ties by login (byte order), then
// uid. Pure: no I/O, no state.
#ifndef SPOOLSTAT_LISTING_H
#define SPOOLSTAT_LISTING_H

#include <ctime>
#include <string>
#include <vector>

#include "census.h"
#include "limitinfo.h"

namespace listing {

enum class Status { over, near, within };

struct Row {
	std::string login;
	int uid = 0;
	long long size = 0;     // true size in bytes
	long long excess = 0;   // size - limit, saturated
	long long percent = -1; // share of the limit, whole %; -1: none
	Status status = Status::within;
	bool has_mtime = false; // the mailbox could be examined
	std::time_t mtime = 0;  // its last change
};

// The rows to report from the census, sorted. percent is the threshold,
// -1 for none.
std::vector<Row> select(const std::vector<census::Account> &accounts, const limitinfo::Limit &limit,
                        bool all, int percent);

} // namespace listing

#endif
