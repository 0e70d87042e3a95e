// SPDX-License-Identifier: ISC
// Unit tests of spoolstat's figures: how far over and the share of the
// limit at the ends of the 64-bit and 32-bit ranges, the exact threshold
// test, 1024-based sizes with their rounding and unit changes, and times.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <ctime>

#include "figures.h"

namespace {

TEST(Figures, ExcessSaturatesInsteadOfWrapping)
{
	EXPECT_EQ(figures::excess(600000, 500000), 100000);
	EXPECT_EQ(figures::excess(0, 500000), -500000);
	EXPECT_EQ(figures::excess(3000000000LL, INT_MAX), 3000000000LL - INT_MAX);
	EXPECT_EQ(figures::excess(0, INT_MIN), 2147483648LL);
	EXPECT_EQ(figures::excess(LLONG_MAX, -1), LLONG_MAX);
	EXPECT_EQ(figures::excess(LLONG_MAX - 5, INT_MIN), LLONG_MAX);
	EXPECT_EQ(figures::excess(LLONG_MIN + 1, 2), LLONG_MIN);
}

TEST(Figures, PercentRoundsDownAndNeverOverflows)
{
	EXPECT_EQ(figures::percent_of(0, 500000), 0);
	EXPECT_EQ(figures::percent_of(499999, 500000), 99);
	EXPECT_EQ(figures::percent_of(500000, 500000), 100);
	EXPECT_EQ(figures::percent_of(500001, 500000), 100);
	EXPECT_EQ(figures::percent_of(3000000000LL, 500000), 600000);
	EXPECT_EQ(figures::percent_of(2, 3), 66);
	// size * 100 would leave 64 bits here.
	EXPECT_EQ(figures::percent_of(LLONG_MAX / 50, INT_MAX), LLONG_MAX / 50 / INT_MAX * 100 +
	          (LLONG_MAX / 50 % INT_MAX) * 100 / INT_MAX);
	EXPECT_EQ(figures::percent_of(LLONG_MAX, 1), LLONG_MAX);
	EXPECT_EQ(figures::percent_of(LLONG_MAX / 100, 1), LLONG_MAX / 100 * 100);
	EXPECT_EQ(figures::percent_of(100, 0), -1);
	EXPECT_EQ(figures::percent_of(100, -5), -1);
}

struct ThresholdCase {
	long long size;
	int limit, percent;
	bool expected;
};

class Threshold : public testing::TestWithParam<ThresholdCase> {};

TEST_P(Threshold, IsExact)
{
	const ThresholdCase &c = GetParam();
	EXPECT_EQ(figures::at_or_above(c.size, c.limit, c.percent), c.expected)
	    << c.size << " vs " << c.percent << "% of " << c.limit;
}

INSTANTIATE_TEST_SUITE_P(Figures, Threshold, testing::Values(
	ThresholdCase{450000, 500000, 90, true},
	ThresholdCase{449999, 500000, 90, false},
	// 90% of 7 is 6.3: 6 is below it, 7 is not.
	ThresholdCase{6, 7, 90, false},
	ThresholdCase{7, 7, 90, true},
	// 100 * INT_MAX leaves 32 bits; the test must not wrap.
	ThresholdCase{INT_MAX, INT_MAX, 100, true},
	ThresholdCase{INT_MAX - 1LL, INT_MAX, 100, false},
	ThresholdCase{LLONG_MAX, INT_MAX, 100, true},
	ThresholdCase{0, 500000, 0, true},
	ThresholdCase{0, -5, 90, true}));

struct HumanCase {
	long long size;
	const char *expected;
};

class Human : public testing::TestWithParam<HumanCase> {};

TEST_P(Human, Text)
{
	EXPECT_EQ(figures::human(GetParam().size), GetParam().expected) << GetParam().size;
}

INSTANTIATE_TEST_SUITE_P(Figures, Human, testing::Values(
	HumanCase{0, "0B"},
	HumanCase{1023, "1023B"},
	HumanCase{1024, "1.0K"},
	HumanCase{1536, "1.5K"},
	HumanCase{10188, "9.9K"},            // 9.949K
	HumanCase{10189, "10K"},             // 9.950K rounds to 10.0: whole units
	HumanCase{500000, "488K"},
	HumanCase{1048063, "1023K"},         // 1023.499K
	HumanCase{1048064, "1.0M"},          // 1023.5K rounds into the next unit
	HumanCase{1572864, "1.5M"},
	HumanCase{3000000000LL, "2.8G"},
	HumanCase{1LL << 40, "1.0T"},
	HumanCase{LLONG_MAX, "8.0E"},
	HumanCase{-1536, "-1.5K"},
	HumanCase{LLONG_MIN, "-8.0E"}));

TEST(Figures, TimesAreLocal)
{
	const char *old = std::getenv("TZ");
	std::string saved = old ? old : "";
	::setenv("TZ", "EST5", 1);
	::tzset();
	std::time_t when = 981173106; // 2001-02-03 04:05:06 UTC
	EXPECT_EQ(figures::local_minute(when), "2001-02-02 23:05");
	EXPECT_EQ(figures::local_iso(when), "2001-02-02T23:05:06-05:00");
	::setenv("TZ", "IST-5:30", 1);
	::tzset();
	EXPECT_EQ(figures::local_iso(when), "2001-02-03T09:35:06+05:30");
	if (old)
		::setenv("TZ", saved.c_str(), 1);
	else
		::unsetenv("TZ");
	::tzset();
}

} // namespace
