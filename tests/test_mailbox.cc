// SPDX-License-Identifier: ISC
// Unit tests of the mailbox path and status helpers, and the verdict's
// saturating sizes.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string>

#include "mailbox.h"
#include "verdict.h"
#include "warning.h"

namespace {

TEST(Mailbox, PathNeverTruncates)
{
	char buf[mailbox::path_size];
	ASSERT_TRUE(mailbox::path(buf, "alice"));
	EXPECT_STREQ(buf, "/var/mail/alice");

	std::string longest(1013, 'n');
	ASSERT_TRUE(mailbox::path(buf, longest.c_str()));
	EXPECT_EQ(std::string(buf), "/var/mail/" + longest);

	std::string too_long(1014, 'n');
	EXPECT_FALSE(mailbox::path(buf, too_long.c_str()));
	EXPECT_STREQ(buf, "");
}

// The rule is asked about sizes saturated to its 32 bits, never wrapped.
TEST(Verdict, RuleSizeSaturates)
{
	EXPECT_EQ(verdict::rule_size(500001), 500001);
	EXPECT_EQ(verdict::rule_size(INT_MAX), INT_MAX);
	EXPECT_EQ(verdict::rule_size(1LL << 31), INT_MAX);
	EXPECT_EQ(verdict::rule_size((1LL << 32) + 100), INT_MAX);
	EXPECT_EQ(verdict::saturated_sum(LLONG_MAX - 1, 2), LLONG_MAX);
}

// Size and time come from the same file; a missing one is known as such.
TEST(Mailbox, ExamineGivesSizeAndTime)
{
	char name[] = "/tmp/mailbox-test-XXXXXX";
	int fd = mkstemp(name);
	ASSERT_GE(fd, 0);
	ASSERT_EQ(write(fd, "12345", 5), 5);
	const timespec times[2] = {{1000000000, 0}, {1234567890, 0}}; // access, modification
	ASSERT_EQ(futimens(fd, times), 0);
	close(fd);

	mailbox::Status box = mailbox::examine(name);
	EXPECT_TRUE(box.known);
	EXPECT_EQ(box.size, 5);
	EXPECT_EQ(box.mtime, 1234567890);

	unlink(name);
	box = mailbox::examine(name);
	EXPECT_FALSE(box.known);
	EXPECT_EQ(box.size, 0);
	EXPECT_EQ(box.error, ENOENT);
}

// The warning of the longest login the lookup hands out fits its room, with
// the largest figures; a buffer too small says so by the length it reports.
TEST(Warning, FitsOrSaysItDoesNot)
{
	std::string longest(1022, 'n');
	char text[warning::text_size];
	std::size_t n = warning::format(text, longest.c_str(), 1LL << 40, INT_MAX);
	ASSERT_LT(n, sizeof text);
	EXPECT_EQ(std::string(text, n),
	          "\n** WARNING: system mailbox /var/mail/" + longest +
	              " is over quota (1099511627776 bytes). **\n** Until YOU make it less then "
	              "2147483648 bytes, you will receive NO MORE MAIL. **\n\n");

	std::string alice = "\n** WARNING: system mailbox /var/mail/alice is over quota (500001 "
	                    "bytes). **\n** Until YOU make it less then 500001 bytes, you will "
	                    "receive NO MORE MAIL. **\n\n";
	char small[40];
	EXPECT_EQ(warning::format(small, "alice", 500001, 500000), alice.size());
}

} // namespace
