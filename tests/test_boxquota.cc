// SPDX-License-Identifier: ISC
// Unit tests of the limit module: configuration reading and the over-limit
// rule, through the test build that can point the one-time load at a file.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <ostream>
#include <string>

#include "boxquota.h"
#include "boxquota_seam.h"
#include "time_bound.h"

namespace {

struct TempConfig {
	std::string path;
	explicit TempConfig(const std::string &content)
	{
		char name[] = "/tmp/boxquota-test-XXXXXX";
		int fd = mkstemp(name);
		EXPECT_GE(fd, 0);
		EXPECT_EQ(write(fd, content.data(), content.size()),
		          static_cast<ssize_t>(content.size()));
		close(fd);
		path = name;
		BoxquotaTestReset(path.c_str());
	}
	~TempConfig() { unlink(path.c_str()); }
	void rewrite(const std::string &content) const
	{
		FILE *f = std::fopen(path.c_str(), "w");
		std::fputs(content.c_str(), f);
		std::fclose(f);
	}
};

struct ReadCase {
	const char *name;
	std::string content;
	int min_uid;
	int max_size;
};

// Named in test output; printing the raw bytes would read the padding.
void PrintTo(const ReadCase &c, std::ostream *os)
{
	*os << c.name;
}

class ConfigReading : public testing::TestWithParam<ReadCase> {};

TEST_P(ConfigReading, GivesTheValues)
{
	TempConfig cfg(GetParam().content);
	EXPECT_EQ(MinLimitUid(), GetParam().min_uid);
	EXPECT_EQ(MailLimit(), GetParam().max_size);
}

const std::string long_comment = "#" + std::string(254, 'x') + "42\n";

INSTANTIATE_TEST_SUITE_P(Limit, ConfigReading, testing::Values(
	ReadCase{"typical", "# limit\n100\n2000000\n", 100, 2000000},
	ReadCase{"empty", "", 0, 0},
	ReadCase{"only_comments_and_words", "# 100\n#200\nabc\n\n", 0, 0},
	ReadCase{"one_value", "100\n", 100, 0},
	ReadCase{"blanks_before_digits", " \t 100\n\v\f\r 5\n", 100, 5},
	ReadCase{"empty_line_between", "100\n\n500000\n", 100, 500000},
	ReadCase{"remark_after_number", "100 users and up\n500000bytes\n", 100, 500000},
	ReadCase{"third_value_ignored", "1\n2\n3\n", 1, 2},
	ReadCase{"leading_zero_is_decimal", "010\n0x10\n", 10, 0},
	ReadCase{"signs", "+7\n-5\n", 7, -5},
	ReadCase{"lone_sign_is_no_number", "-\n+\n- 5\n8\n9\n", 8, 9},
	ReadCase{"hash_after_blank_is_no_comment", " #5\n6\n7\n", 6, 7},
	ReadCase{"saturates_above", "99999999999999999999\n2147483648\n", INT_MAX, INT_MAX},
	ReadCase{"saturates_below", "-99999999999999999999\n-2147483649\n", INT_MIN, INT_MIN},
	ReadCase{"exact_bounds", "2147483647\n-2147483648\n", INT_MAX, INT_MIN},
	// A 256-character comment: only its first 255 characters are the
	// comment; the rest is a piece of its own and gives a value.
	ReadCase{"long_comment_tail_is_a_line", long_comment + "77\n", 42, 77},
	ReadCase{"no_trailing_newline", "100\n500", 100, 500}),
	[](const auto &p) { return std::string(p.param.name); });

TEST(Limit, MissingFileTurnsLimitOff)
{
	BoxquotaTestReset("/nonexistent/boxquota");
	EXPECT_EQ(MinLimitUid(), 0);
	EXPECT_EQ(MailLimit(), 0);
	EXPECT_EQ(OverMailLimit(0, INT_MAX), 0);
	EXPECT_EQ(OverMailLimit(1000, INT_MAX), 0);
}

// 0 when the limit is off, else 1.
int limit_off()
{
	return MinLimitUid() == 0 && MailLimit() == 0 && OverMailLimit(1000, INT_MAX) == 0 ? 0 : 1;
}

// A FIFO or a device in the place of the file is never read (no writer
// would ever come, and /dev/zero never ends): the limit is off.
TEST(Limit, FifoOrDeviceTurnsLimitOff)
{
	char dir[] = "/tmp/boxquota-test-XXXXXX";
	ASSERT_NE(mkdtemp(dir), nullptr);
	std::string fifo = std::string(dir) + "/fifo";
	ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
	for (const char *special : {fifo.c_str(), "/dev/zero"}) {
		BoxquotaTestReset(special);
		EXPECT_EQ(within(10, limit_off), 0) << special << ": 1 the limit is on, -1 it hung";
	}
	unlink(fifo.c_str());
	rmdir(dir);
}

struct RuleCase {
	const char *config;
	int uid;
	int size;
	int over;
};

// Named in test output; printing the raw bytes would read the padding.
void PrintTo(const RuleCase &c, std::ostream *os)
{
	*os << "uid " << c.uid << " size " << c.size;
}

class OverLimit : public testing::TestWithParam<RuleCase> {};

TEST_P(OverLimit, Judges)
{
	TempConfig cfg(GetParam().config);
	EXPECT_EQ(OverMailLimit(GetParam().uid, GetParam().size), GetParam().over)
	    << GetParam().config << " uid " << GetParam().uid << " size " << GetParam().size;
}

INSTANTIATE_TEST_SUITE_P(Limit, OverLimit, testing::Values(
	RuleCase{"100\n500000\n", 99, 1000000000, 0},
	RuleCase{"100\n500000\n", 100, 500000, 0},
	RuleCase{"100\n500000\n", 100, 500001, 1},
	RuleCase{"100\n500000\n", 65534, INT_MAX, 1},
	RuleCase{"0\n500000\n", 1000, INT_MAX, 0},     // first value 0: nobody
	RuleCase{"100\n0\n", 1000, INT_MAX, 0},        // second value 0: no limit
	RuleCase{"100\n", 1000, INT_MAX, 0},           // one value: off
	RuleCase{"-5\n10\n", 0, 11, 1},                // negative first: root too
	RuleCase{"100\n-1\n", 100, 0, 1},              // negative size: all over
	RuleCase{"100\n-1\n", 99, 0, 0},
	RuleCase{"100\n2147483647\n", 100, INT_MAX, 0}));

TEST(Limit, FileIsReadOnce)
{
	TempConfig cfg("100\n500000\n");
	EXPECT_EQ(OverMailLimit(100, 500001), 1);
	cfg.rewrite("100\n0\n");
	EXPECT_EQ(MailLimit(), 500000);
	EXPECT_EQ(OverMailLimit(100, 500001), 1);
}

// A first value of -1 is the "not loaded" mark itself, so the file is read
// again on every call and a change shows at once.
TEST(Limit, FirstValueMinusOneRereads)
{
	TempConfig cfg("-1\n10\n");
	EXPECT_EQ(MinLimitUid(), -1);
	EXPECT_EQ(OverMailLimit(0, 11), 1);
	cfg.rewrite("-1\n20\n");
	EXPECT_EQ(MailLimit(), 20);
	EXPECT_EQ(OverMailLimit(0, 11), 0);
	cfg.rewrite("100\n30\n");
	EXPECT_EQ(MinLimitUid(), 100);
	cfg.rewrite("200\n40\n");
	EXPECT_EQ(MinLimitUid(), 100);
}

} // namespace
