// SPDX-License-Identifier: ISC
// Unit tests of the account module's field splitter.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "strsep.h"

namespace {

std::vector<std::string> tokens(std::string s, const char *delim)
{
	std::vector<std::string> out;
	char *cursor = s.data();
	while (char *t = account::strsep(&cursor, delim))
		out.emplace_back(t);
	return out;
}

TEST(Strsep, SplitsLikeTheUsualOne)
{
	using V = std::vector<std::string>;
	EXPECT_EQ(tokens("a:b:c", ":\n"), (V{"a", "b", "c"}));
	EXPECT_EQ(tokens("a::b", ":\n"), (V{"a", "", "b"}));
	EXPECT_EQ(tokens("a:b\n", ":\n"), (V{"a", "b", ""}));
	EXPECT_EQ(tokens("", ":\n"), (V{""}));
	EXPECT_EQ(tokens(":", ":\n"), (V{"", ""}));
	char *none = nullptr;
	EXPECT_EQ(account::strsep(&none, ":"), nullptr);
}

} // namespace
