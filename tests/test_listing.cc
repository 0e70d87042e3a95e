// Unit tests of the report's rows and their rendering: who is listed under
// each option, the order, and the text and JSON forms.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "listing.h"
#include "report.h"

namespace {

using listing::Status;

// As the census gives them: file order, verdict already made.
const std::vector<census::Account> accounts = {
	{"carol", 1001, 600000, true},
	{"alice", 100, 500000, false},
	{"zed", 1005, 600000, true}, // ties with carol: by login
	{"bob", 1000, 3000000000LL, true},
	{"dave", 1002, 450000, false},
	{"erin", 1003, 449999, false},
	{"amy", 1004, 600000, true},
};

std::vector<std::string> logins(const std::vector<listing::Row> &rows)
{
	std::vector<std::string> out;
	for (const listing::Row &r : rows)
		out.push_back(r.login + ":" + (r.status == Status::over ? "over"
		                               : r.status == Status::near ? "near" : "within"));
	return out;
}

TEST(Listing, WhoIsListedAndInWhichOrder)
{
	limitinfo::Limit l = limitinfo::proposed(100, 500000);
	using V = std::vector<std::string>;
	EXPECT_EQ(logins(listing::select(accounts, l, false, -1)),
	          (V{"bob:over", "amy:over", "carol:over", "zed:over"}));
	EXPECT_EQ(logins(listing::select(accounts, l, false, 90)),
	          (V{"bob:over", "amy:over", "carol:over", "zed:over", "alice:near", "dave:near"}));
	EXPECT_EQ(logins(listing::select(accounts, l, true, -1)),
	          (V{"bob:over", "amy:over", "carol:over", "zed:over", "alice:within",
	             "dave:within", "erin:within"}));
	EXPECT_EQ(logins(listing::select(accounts, l, true, 90)),
	          (V{"bob:over", "amy:over", "carol:over", "zed:over", "alice:near", "dave:near",
	             "erin:within"}));
}

TEST(Listing, TheVerdictIsTheCensus)
{
	// A 3 GB mailbox against the largest limit: judged at its saturated
	// size it is not over, so it is not listed as over, whatever its
	// true excess.
	limitinfo::Limit l = limitinfo::proposed(100, INT_MAX);
	std::vector<census::Account> big = {{"huge", 100, 3000000000LL, false}};
	std::vector<listing::Row> rows = listing::select(big, l, false, 100);
	ASSERT_EQ(rows.size(), 1u);
	EXPECT_EQ(rows[0].status, Status::near);
	EXPECT_EQ(rows[0].excess, 3000000000LL - INT_MAX);
	EXPECT_TRUE(listing::select(big, l, false, -1).empty());
}

std::string render(bool json, const report::Summary &s, const std::vector<listing::Row> &rows)
{
	char *buf = nullptr;
	std::size_t len = 0;
	std::FILE *out = open_memstream(&buf, &len);
	if (json)
		report::json(out, s, rows);
	else
		report::text(out, s, rows);
	std::fclose(out);
	std::string text(buf, len);
	std::free(buf);
	return text;
}

class Rendering : public testing::Test {
protected:
	void SetUp() override
	{
		::setenv("TZ", "UTC0", 1);
		::tzset();
	}
	report::Summary summary()
	{
		report::Summary s;
		s.limit = limitinfo::proposed(100, 500000);
		s.limit.proposed = false;
		s.limited = 7;
		s.over = 4;
		return s;
	}
};

TEST_F(Rendering, TextColumnsLineUp)
{
	report::Summary s = summary();
	std::vector<listing::Row> rows = listing::select(accounts, s.limit, false, -1);
	rows[0].has_mtime = true;
	rows[0].mtime = 981173106;
	rows[1].login = "a\x1b[2Jb";
	EXPECT_EQ(render(false, s, {rows[0], rows[1]}),
	          "limit: 500000 bytes (488K) for uid 100 and above\n"
	          "accounts: 7 limited, 4 over\n"
	          "LOGIN       UID        SIZE  HUMAN   LIMIT        OVER     USE%  MODIFIED          STATUS\n"
	          "bob        1000  3000000000   2.8G  500000  2999500000  600000%  2001-02-03 04:05  over\n"
	          "a\\033[2Jb  1004      600000   586K  500000      100000     120%  -                 over\n");
}

TEST_F(Rendering, TextWhenOffOrEmpty)
{
	report::Summary s = summary();
	s.over = 0;
	s.percent = 90;
	EXPECT_EQ(render(false, s, {}),
	          "limit: 500000 bytes (488K) for uid 100 and above\n"
	          "accounts: 7 limited, 0 over, 0 more at or above 90%\n");
	s.limit = limitinfo::proposed(0, 500000);
	EXPECT_EQ(render(false, s, {}), "proposed limit: off: the lowest uid is 0\n");
	s.limit.proposed = false;
	s.limit.off = limitinfo::Off::unreadable;
	s.limit.err = EACCES;
	EXPECT_EQ(render(false, s, {}), "limit: off: /var/mail/.boxquota: Permission denied\n");
}

TEST_F(Rendering, JsonHoldsEveryFigure)
{
	report::Summary s = summary();
	s.limit.max_size = -1; // no share of a negative limit
	std::vector<listing::Row> rows = listing::select({{"\xff\"x", 100, 7, true}}, s.limit,
	                                                 false, -1);
	rows[0].has_mtime = true;
	rows[0].mtime = 981173106;
	EXPECT_EQ(render(true, s, rows),
	          "{\n"
	          "  \"limit\": {\"on\": true, \"proposed\": false, \"min_uid\": 100, \"max_size\": -1, "
	          "\"off_reason\": null, \"off_text\": null},\n"
	          "  \"threshold_percent\": null,\n"
	          "  \"limited\": 7,\n"
	          "  \"over\": 4,\n"
	          "  \"accounts\": [\n"
	          "    {\"login\": \"\\ufffd\\\"x\", \"uid\": 100, \"size\": 7, \"limit\": -1, "
	          "\"over_by\": 8, \"percent\": null, \"status\": \"over\", \"mtime\": 981173106, "
	          "\"modified\": \"2001-02-03T04:05:06+00:00\"}\n"
	          "  ]\n"
	          "}\n");
	s.limit = limitinfo::proposed(5, 0);
	EXPECT_EQ(render(true, s, {}),
	          "{\n"
	          "  \"limit\": {\"on\": false, \"proposed\": true, \"min_uid\": 5, \"max_size\": 0, "
	          "\"off_reason\": \"max-size-zero\", \"off_text\": \"the largest size is 0\"},\n"
	          "  \"threshold_percent\": null,\n"
	          "  \"limited\": 7,\n"
	          "  \"over\": 4,\n"
	          "  \"accounts\": []\n"
	          "}\n");
}

} // namespace
