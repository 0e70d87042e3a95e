// SPDX-License-Identifier: ISC
// Unit tests of the report's rows: who is listed under each option, in
// which order, and the verdict kept apart from the true excess (the text
// and JSON forms are checked byte for byte by the end-to-end cases); and
// the census's check of the password file.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "census.h"
#include "listing.h"

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

// getpwent says "no more" for all of these alike; the check must not.
TEST(Census, PasswordFileFailures)
{
	char tmpl[] = "/tmp/census-test-XXXXXX";
	ASSERT_NE(mkdtemp(tmpl), nullptr);
	std::string dir = tmpl;
	EXPECT_EQ(census::unreadable((dir + "/passwd").c_str()), ENOENT);
	EXPECT_EQ(census::unreadable(dir.c_str()), EISDIR);
	std::ofstream(dir + "/passwd") << "";
	EXPECT_EQ(census::unreadable((dir + "/passwd").c_str()), 0) << "empty is readable";
	std::filesystem::remove_all(dir);
}

} // namespace
