// SPDX-License-Identifier: ISC
// Unit tests of why the limit is off, read from configuration files in a
// temporary folder, and of which uids a limit covers: never fewer than the
// rule itself can find over.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <filesystem>
#include <fstream>
#include <string>

#include "limitinfo.h"
#include "rule.h"

namespace {

using limitinfo::Off;

class ConfigFile : public testing::Test {
protected:
	std::filesystem::path dir;
	std::string file;

	void SetUp() override
	{
		char tmpl[] = "/tmp/limitinfo-test-XXXXXX";
		ASSERT_NE(mkdtemp(tmpl), nullptr);
		dir = tmpl;
		file = (dir / ".boxquota").string();
	}
	void TearDown() override { std::filesystem::remove_all(dir); }

	void write(const std::string &content)
	{
		std::ofstream(file, std::ios::binary) << content;
	}
	Off explain(int min_user, int max_size, int *err = nullptr)
	{
		int e = 0;
		Off off = limitinfo::explain(file.c_str(), min_user, max_size, &e);
		if (err)
			*err = e;
		return off;
	}
};

TEST_F(ConfigFile, MissingAndUnreadable)
{
	int err = 0;
	EXPECT_EQ(explain(0, 0, &err), Off::no_file);
	EXPECT_EQ(err, ENOENT);

	std::filesystem::create_directory(file);
	EXPECT_EQ(explain(0, 0, &err), Off::unreadable) << "a folder opens but cannot be read";
	EXPECT_EQ(err, EISDIR);
}

// The library's values for each file are those its own tests establish.
TEST_F(ConfigFile, ReasonFromContent)
{
	const struct {
		std::string content;
		int min_user, max_size;
		Off expected;
	} cases[] = {
		{"", 0, 0, Off::no_values},
		{"# only a remark\nnothing here\n", 0, 0, Off::no_values},
		{"#100\n#500000\n", 0, 0, Off::no_values},
		{"100\n", 100, 0, Off::one_value},
		{"# limit\n  100 uid\n\n", 100, 0, Off::one_value},
		{"0\n500000\n", 0, 500000, Off::min_zero},
		{"100\n0\n", 100, 0, Off::max_zero},
		{"0\n0\n", 0, 0, Off::min_zero},
		// A remark longer than a piece: its tail is read as a line.
		{"#" + std::string(254, 'x') + "100\n", 100, 0, Off::one_value},
		// The library said off, the file now says on.
		{"100\n500000\n", 0, 0, Off::changed},
	};
	for (const auto &c : cases) {
		write(c.content);
		EXPECT_EQ(explain(c.min_user, c.max_size), c.expected) << c.content;
	}
}

// Over implies covered, for limits and uids around every boundary; and
// below the largest limit, every covered account is over with the largest
// size (a limit of INT_MAX covers accounts no size can be over).
TEST(Limit, CoverageMatchesTheRule)
{
	const int values[] = {INT_MIN, -5, -1, 0, 1, 99, 100, 101, 500000, INT_MAX};
	const int sizes[] = {0, 1, 500000, 500001, INT_MAX};
	for (int min_user : values)
		for (int max_size : values)
			for (int uid : values) {
				limitinfo::Limit l = limitinfo::proposed(min_user, max_size);
				bool covered = limitinfo::covers(l, uid);
				for (int size : sizes) {
					if (limit::over(min_user, max_size, uid, size)) {
						EXPECT_TRUE(covered) << min_user << ":" << max_size
						                     << " uid " << uid << " size " << size;
					}
				}
				if (covered && max_size != INT_MAX) {
					EXPECT_TRUE(limit::over(min_user, max_size, uid, INT_MAX))
					    << min_user << ":" << max_size << " uid " << uid;
				}
				EXPECT_EQ(limitinfo::on(l), l.off == Off::none);
			}
}

} // namespace
