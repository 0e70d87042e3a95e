// SPDX-License-Identifier: ISC
// Unit tests of the shared decimal reader at its own 64-bit width, below
// the 32-bit clamp through which the limit and the ids see it.
#include <gtest/gtest.h>

#include <climits>
#include <ostream>
#include <string>

#include "decimal.h"

namespace {

struct Case {
	const char *text;
	int converts;    // leading_ll's result
	long long value; // what it stores (untouched: 7)
};

void PrintTo(const Case &c, std::ostream *os)
{
	*os << '"' << c.text << '"';
}

class LeadingLL : public testing::TestWithParam<Case> {};

TEST_P(LeadingLL, ReadsAndSaturates)
{
	long long out = 7;
	EXPECT_EQ(decimal::leading_ll(GetParam().text, &out), GetParam().converts);
	EXPECT_EQ(out, GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(Decimal, LeadingLL, testing::Values(
	Case{"99999999999999999999", 1, LLONG_MAX},
	Case{"-99999999999999999999", 1, LLONG_MIN},
	Case{"9223372036854775807", 1, LLONG_MAX},
	Case{"9223372036854775808", 1, LLONG_MAX},
	Case{"-9223372036854775808", 1, LLONG_MIN},
	Case{"-9223372036854775809", 1, LLONG_MIN},
	Case{"9223372036854775806", 1, LLONG_MAX - 1},
	Case{"-9223372036854775807", 1, LLONG_MIN + 1},
	Case{"00000000000000000000000042x", 1, 42},
	Case{" \t+120:rest", 1, 120},
	Case{"-", 0, 7},
	Case{"", 0, 7}));

} // namespace
