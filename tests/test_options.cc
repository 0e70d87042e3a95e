// SPDX-License-Identifier: ISC
// Unit tests of spoolstat's command line: --what-if and -t values (range,
// form, refusal rather than silent cutting) and the option parser's
// messages for mistakes.
#include <gtest/gtest.h>

#include <cctype>
#include <climits>
#include <string>
#include <vector>

#include "argv.h"
#include "options.h"

namespace {

struct ProposalCase {
	const char *arg;
	bool ok;
	int min_user, max_size; // when ok
	const char *error;      // when not ok
};

class Proposal : public testing::TestWithParam<ProposalCase> {};

TEST_P(Proposal, Parse)
{
	const ProposalCase &c = GetParam();
	options::Proposal p{7, 7};
	std::string error;
	ASSERT_EQ(options::parse_proposal(c.arg, &p, &error), c.ok) << c.arg << ": " << error;
	if (c.ok) {
		EXPECT_EQ(p.min_user, c.min_user);
		EXPECT_EQ(p.max_size, c.max_size);
	} else {
		EXPECT_EQ(error, c.error);
		EXPECT_EQ(p.min_user, 7) << "left alone on error";
	}
}

INSTANTIATE_TEST_SUITE_P(Options, Proposal, testing::Values(
	ProposalCase{"1000:100000", true, 1000, 100000, ""},
	ProposalCase{"0:0", true, 0, 0, ""},
	ProposalCase{"-5:-1", true, -5, -1, ""},
	ProposalCase{"-2147483648:2147483647", true, INT_MIN, INT_MAX, ""},
	ProposalCase{"1000", false, 0, 0, "--what-if 1000: expected MIN:MAX"},
	ProposalCase{":5", false, 0, 0, "--what-if :5: MIN is not a decimal number"},
	ProposalCase{"5:", false, 0, 0, "--what-if 5:: MAX is not a decimal number"},
	ProposalCase{"1x:5", false, 0, 0, "--what-if 1x:5: MIN is not a decimal number"},
	ProposalCase{"1:5:6", false, 0, 0, "--what-if 1:5:6: MAX is not a decimal number"},
	ProposalCase{" 1:5", false, 0, 0, "--what-if  1:5: MIN is not a decimal number"},
	ProposalCase{"+1:5", false, 0, 0, "--what-if +1:5: MIN is not a decimal number"},
	ProposalCase{"0x10:5", false, 0, 0, "--what-if 0x10:5: MIN is not a decimal number"},
	ProposalCase{"1:2147483648", false, 0, 0,
	             "--what-if 1:2147483648: MAX is out of range (-2147483648 to 2147483647)"},
	ProposalCase{"-2147483649:1", false, 0, 0,
	             "--what-if -2147483649:1: MIN is out of range (-2147483648 to 2147483647)"},
	ProposalCase{"1:99999999999999999999999", false, 0, 0,
	             "--what-if 1:99999999999999999999999: MAX is out of range "
	             "(-2147483648 to 2147483647)"}),
	[](const auto &p) {
		std::string name = std::to_string(p.index) + "_";
		for (const char *c = p.param.arg; *c; c++)
			name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
		return name;
	});

TEST(Options, Percent)
{
	for (auto [arg, want] : {std::pair{"0", 0}, {"90", 90}, {"100", 100}, {"95%", 95}}) {
		int p = -1;
		std::string error;
		EXPECT_TRUE(options::parse_percent(arg, &p, &error)) << arg;
		EXPECT_EQ(p, want) << arg;
	}
	for (const char *arg : {"101", "-1", "", "%", "9.5", "90%%", "4294967386"}) {
		int p = -1;
		std::string error;
		EXPECT_FALSE(options::parse_percent(arg, &p, &error)) << arg;
		EXPECT_EQ(error, "-t " + std::string(arg) +
		                     ": PERCENT must be a whole number from 0 to 100");
		EXPECT_EQ(p, -1);
	}
}

// Runs the parser over words (argv[0] added).
bool parse(const std::vector<const char *> &words, options::Options *o, std::string *error)
{
	Argv line("spoolstat", words);
	return options::parse(line.argc(), line.argv(), o, error);
}

TEST(Options, EveryOptionIsTaken)
{
	options::Options o;
	std::string error;
	ASSERT_TRUE(parse({}, &o, &error)) << error;
	EXPECT_FALSE(o.all || o.json || o.what_if || o.help || o.version);
	EXPECT_EQ(o.percent, -1);

	ASSERT_TRUE(parse({"-a", "-t", "90", "--what-if", "1000:5", "--json"}, &o, &error)) << error;
	EXPECT_TRUE(o.all && o.json && o.what_if);
	EXPECT_EQ(o.percent, 90);
	EXPECT_EQ(o.proposal.min_user, 1000);
	EXPECT_EQ(o.proposal.max_size, 5);

	ASSERT_TRUE(parse({"-at80", "--what-if=-1:-1", "--all", "--threshold=70"}, &o, &error));
	EXPECT_TRUE(o.all);
	EXPECT_EQ(o.percent, 70) << "the last one given counts";
	EXPECT_EQ(o.proposal.min_user, -1);

	ASSERT_TRUE(parse({"--help"}, &o, &error));
	EXPECT_TRUE(o.help);
	ASSERT_TRUE(parse({"--version"}, &o, &error));
	EXPECT_TRUE(o.version);
}

TEST(Options, MistakesAreNamed)
{
	const std::pair<std::vector<const char *>, const char *> cases[] = {
		{{"-x"}, "unknown option -x"},
		{{"-ax"}, "unknown option -x"},
		{{"--json", "-xa"}, "unknown option -x"},
		{{"--what-if=1:2", "-xa"}, "unknown option -x"},
		{{"--bogus=1"}, "unknown option --bogus"},
		{{"--json=1"}, "option --json takes no argument"},
		{{"--all=1"}, "option --all takes no argument"},
		{{"-t"}, "option -t needs a value"},
		{{"-at"}, "option -t needs a value"},
		{{"-a", "--threshold"}, "option --threshold needs a value"},
		{{"--what-if"}, "option --what-if needs a value"},
		{{"-t", "200"}, "-t 200: PERCENT must be a whole number from 0 to 100"},
		{{"--what-if", "5"}, "--what-if 5: expected MIN:MAX"},
		{{"alice"}, "alice: unexpected argument"},
		{{"-a", "--", "-a"}, "-a: unexpected argument"},
	};
	for (const auto &[words, want] : cases) {
		options::Options o;
		o.percent = 42;
		std::string error;
		EXPECT_FALSE(parse(words, &o, &error)) << want;
		EXPECT_EQ(error, want);
		EXPECT_EQ(o.percent, 42) << "untouched on error";
	}
}

} // namespace
