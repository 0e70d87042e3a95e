// Unit tests of the mailbox path and size helpers.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "mailbox.h"

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

TEST(Mailbox, SizeOfMissingIsZeroAndLargeSaturates)
{
	EXPECT_EQ(mailbox::size("/nonexistent/mailbox"), 0);
	EXPECT_EQ(mailbox::limit_size(500001), 500001);
	EXPECT_EQ(mailbox::limit_size(INT_MAX), INT_MAX);
	EXPECT_EQ(mailbox::limit_size(1LL << 31), INT_MAX);
	EXPECT_EQ(mailbox::limit_size((1LL << 32) + 100), INT_MAX);
}

} // namespace
