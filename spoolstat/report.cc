// SPDX-License-Identifier: ISC
// report - the text and JSON forms of the report.
//
// Interface: report.h. Text: a line for the limit, a line of counts, then
// a header and one row per account in aligned columns (logins left, numbers
// right). JSON: one object with "limit", the counts and "accounts". Writes
// to the given stream only.
#include "report.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "escape.h"
#include "figures.h"

namespace report {
namespace {

using limitinfo::Off;

const char *status_word(listing::Status s)
{
	switch (s) {
	case listing::Status::over:
		return "over";
	case listing::Status::near:
		return "near";
	case listing::Status::within:
		break;
	}
	return "within";
}

const char *off_code(Off off)
{
	switch (off) {
	case Off::none:
		break;
	case Off::no_file:
		return "no-file";
	case Off::unreadable:
		return "unreadable";
	case Off::no_values:
		return "no-values";
	case Off::one_value:
		return "one-value";
	case Off::min_zero:
		return "min-uid-zero";
	case Off::max_zero:
		return "max-size-zero";
	case Off::changed:
		return "changed";
	}
	return "";
}

std::string number(long long n)
{
	return std::to_string(n);
}

std::string use_text(long long percent)
{
	return percent < 0 ? "-" : number(percent) + "%";
}

// One row of cells; the columns and their alignment are fixed below.
using Cells = std::vector<std::string>;

const char *const headers[] = {"LOGIN", "UID",  "SIZE",     "HUMAN", "LIMIT",
                               "OVER",  "USE%", "MODIFIED", "STATUS"};
constexpr std::size_t columns = std::size(headers);
constexpr bool left_aligned[columns] = {true, false, false, false, false, false, false, true, true};

void put_line(std::FILE *out, const Cells &cells, const std::size_t (&width)[columns])
{
	for (std::size_t i = 0; i < columns; i++) {
		const std::string &c = cells[i];
		std::size_t pad = width[i] - c.size();
		if (i > 0)
			std::fputs("  ", out);
		if (!left_aligned[i])
			std::fprintf(out, "%*s", static_cast<int>(pad), "");
		std::fwrite(c.data(), 1, c.size(), out);
		if (left_aligned[i] && i + 1 < columns)
			std::fprintf(out, "%*s", static_cast<int>(pad), "");
	}
	std::fputc('\n', out);
}

void put_warnings(std::FILE *out, const Summary &s)
{
	for (const warnings::Warning &w : s.warnings)
		std::fprintf(out, "warning: %s\n", w.text.c_str());
}

} // namespace

void text(std::FILE *out, const Summary &s, const std::vector<listing::Row> &rows)
{
	const limitinfo::Limit &l = s.limit;
	const char *what = l.proposed ? "proposed limit" : "limit";
	if (l.off != Off::none) {
		std::fprintf(out, "%s: off: %s\n", what, limitinfo::off_text(l).c_str());
		put_warnings(out, s);
		return;
	}
	std::fprintf(out, "%s: %d bytes (%s) for uid %d and above%s\n", what, l.max_size,
	             figures::human(l.max_size).c_str(), l.min_user,
	             l.proposed ? " (not in force)" : "");
	std::fprintf(out, "accounts: %zu limited, %zu over", s.limited, s.over);
	if (s.percent >= 0) {
		auto near = static_cast<std::size_t>(
		    std::count_if(rows.begin(), rows.end(), [](const listing::Row &r) {
			    return r.status == listing::Status::near;
		    }));
		std::fprintf(out, ", %zu more at or above %d%%", near, s.percent);
	}
	std::fputc('\n', out);
	put_warnings(out, s);
	if (rows.empty())
		return;

	std::vector<Cells> table;
	table.reserve(rows.size());
	std::size_t width[columns];
	for (std::size_t i = 0; i < columns; i++)
		width[i] = std::strlen(headers[i]);
	for (const listing::Row &r : rows) {
		Cells c = {
		    escape::text(r.login), number(r.uid),
		    number(r.size),        figures::human(r.size),
		    number(l.max_size),    number(r.excess),
		    use_text(r.percent),   r.has_mtime ? figures::local_minute(r.mtime) : "-",
		    status_word(r.status)};
		for (std::size_t i = 0; i < columns; i++)
			width[i] = std::max(width[i], c[i].size());
		table.push_back(std::move(c));
	}
	put_line(out, Cells(std::begin(headers), std::end(headers)), width);
	for (const Cells &c : table)
		put_line(out, c, width);
}

void json(std::FILE *out, const Summary &s, const std::vector<listing::Row> &rows)
{
	const limitinfo::Limit &l = s.limit;
	bool on = l.off == Off::none;
	std::fprintf(out,
	             "{\n  \"limit\": {\"on\": %s, \"proposed\": %s, \"min_uid\": %d, "
	             "\"max_size\": %d, \"off_reason\": ",
	             on ? "true" : "false", l.proposed ? "true" : "false", l.min_user, l.max_size);
	if (on)
		std::fputs("null, \"off_text\": null},\n", out);
	else
		std::fprintf(out, "\"%s\", \"off_text\": %s},\n", off_code(l.off),
		             escape::json(limitinfo::off_text(l)).c_str());
	if (s.percent >= 0)
		std::fprintf(out, "  \"threshold_percent\": %d,\n", s.percent);
	else
		std::fputs("  \"threshold_percent\": null,\n", out);
	std::fprintf(out, "  \"limited\": %zu,\n  \"over\": %zu,\n", s.limited, s.over);
	std::fprintf(
	    out, "  \"database\": {\"present\": %s, \"not_found\": %zu, \"other_login\": %zu},\n",
	    s.database.present ? "true" : "false", s.database.missing, s.database.differs);
	std::fputs("  \"warnings\": [", out);
	const char *wsep = "";
	for (const warnings::Warning &w : s.warnings) {
		std::fprintf(out, "%s{\"code\": \"%s\", \"text\": %s}", wsep, w.code.c_str(),
		             escape::json(w.text).c_str());
		wsep = ", ";
	}
	std::fputs("],\n  \"accounts\": [", out);
	const char *sep = "\n";
	for (const listing::Row &r : rows) {
		std::fprintf(out,
		             "%s    {\"login\": %s, \"uid\": %d, \"size\": %lld, \"limit\": %d, "
		             "\"over_by\": %lld, \"percent\": %s, \"status\": \"%s\", ",
		             sep, escape::json(r.login).c_str(), r.uid, r.size, l.max_size,
		             r.excess, r.percent < 0 ? "null" : number(r.percent).c_str(),
		             status_word(r.status));
		std::string iso = r.has_mtime ? figures::local_iso(r.mtime) : "";
		if (r.has_mtime)
			std::fprintf(out, "\"mtime\": %lld, ", static_cast<long long>(r.mtime));
		else
			std::fputs("\"mtime\": null, ", out);
		if (!iso.empty())
			std::fprintf(out, "\"modified\": \"%s\"}", iso.c_str());
		else
			std::fputs("\"modified\": null}", out);
		sep = ",\n";
	}
	std::fputs(rows.empty() ? "]\n}\n" : "\n  ]\n}\n", out);
}

} // namespace report
