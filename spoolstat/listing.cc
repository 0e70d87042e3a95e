// SPDX-License-Identifier: ISC
// listing - choosing and ordering the report's rows.
//
// Interface: listing.h. The verdict "over" is the limit's own (on the
// saturated size); "near" is the exact threshold test on the true size.
// Pure; no diagnostics.
#include "listing.h"

#include <algorithm>

#include "figures.h"

namespace listing {

std::vector<Row> select(const std::vector<census::Account> &accounts, const limitinfo::Limit &limit,
                        bool all, int percent)
{
	std::vector<Row> rows;
	for (const census::Account &a : accounts) {
		Status status =
		    a.over ? Status::over
		    : percent >= 0 && figures::at_or_above(a.size, limit.max_size, percent)
		        ? Status::near
		        : Status::within;
		if (status == Status::within && !all)
			continue;
		Row row;
		row.login = a.login;
		row.uid = a.uid;
		row.size = a.size;
		row.excess = figures::excess(a.size, limit.max_size);
		row.percent = figures::percent_of(a.size, limit.max_size);
		row.status = status;
		row.has_mtime = a.has_mtime;
		row.mtime = a.mtime;
		rows.push_back(std::move(row));
	}
	std::sort(rows.begin(), rows.end(), [](const Row &x, const Row &y) {
		if (x.excess != y.excess)
			return x.excess > y.excess;
		if (x.login != y.login)
			return x.login < y.login;
		return x.uid < y.uid;
	});
	return rows;
}

} // namespace listing
