// SPDX-License-Identifier: ISC
// Unit tests of boxpolicy's command line: each option and its range, the
// domains, and the messages for mistakes, in the wording every program uses.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "argv.h"
#include "options.h"

namespace {

// Runs the parser over words (argv[0] added).
bool parse(const std::vector<const char *> &words, options::Options *o, std::string *error)
{
	Argv line("boxpolicy", words);
	return options::parse(line.argc(), line.argv(), o, error);
}

TEST(BoxpolicyOptions, Defaults)
{
	options::Options o;
	std::string error;
	ASSERT_TRUE(parse({}, &o, &error)) << error;
	EXPECT_FALSE(o.temporary || o.help || o.version);
	EXPECT_EQ(o.idle, 300);
	EXPECT_EQ(o.request_time, 10);
	EXPECT_EQ(o.limits.line_max, 16384U);
	EXPECT_EQ(o.limits.request_max, 65536U);
	EXPECT_EQ(o.limits.attributes_max, 256U);
	EXPECT_TRUE(o.settings.domains.empty());
	EXPECT_EQ(o.settings.delimiters, "");
}

TEST(BoxpolicyOptions, EveryOptionIsTaken)
{
	options::Options o;
	std::string error;
	ASSERT_TRUE(parse({"-t", "-d", "+-", "-i", "60", "-w", "1", "-l", "8192", "-r", "8192",
	                   "-a", "1", "Example.ORG", "example.net"},
	                  &o, &error))
	    << error;
	EXPECT_TRUE(o.temporary);
	EXPECT_EQ(o.settings.delimiters, "+-");
	EXPECT_EQ(o.idle, 60);
	EXPECT_EQ(o.request_time, 1);
	EXPECT_EQ(o.limits.line_max, 8192U);
	EXPECT_EQ(o.limits.request_max, 8192U);
	EXPECT_EQ(o.limits.attributes_max, 1U);
	EXPECT_EQ(o.settings.domains, (std::vector<std::string>{"example.org", "example.net"}));

	ASSERT_TRUE(parse({"--temporary", "--delimiter=+", "--idle=86400", "--request-time=3600",
	                   "--line-max=65536", "--request-max=1048576", "--attributes-max=4096"},
	                  &o, &error))
	    << error;
	EXPECT_TRUE(o.temporary);
	EXPECT_EQ(o.settings.delimiters, "+");
	EXPECT_EQ(o.idle, 86400);
	EXPECT_EQ(o.request_time, 3600);
	EXPECT_EQ(o.limits.line_max, 65536U);
	EXPECT_EQ(o.limits.request_max, 1048576U);
	EXPECT_EQ(o.limits.attributes_max, 4096U);

	ASSERT_TRUE(parse({"-ti5"}, &o, &error)) << error;
	EXPECT_TRUE(o.temporary);
	EXPECT_EQ(o.idle, 5);
	ASSERT_TRUE(parse({"--help"}, &o, &error));
	EXPECT_TRUE(o.help);
	ASSERT_TRUE(parse({"--version"}, &o, &error));
	EXPECT_TRUE(o.version);
	ASSERT_TRUE(parse({"--", "-t"}, &o, &error)) << "after --, a domain";
	EXPECT_FALSE(o.temporary);
	EXPECT_EQ(o.settings.domains, (std::vector<std::string>{"-t"}));
}

TEST(BoxpolicyOptions, MistakesAreNamed)
{
	const std::pair<std::vector<const char *>, const char *> cases[] = {
	    {{"-x"}, "unknown option -x"},
	    {{"-xt"}, "unknown option -x"},
	    {{"-tx"}, "unknown option -x"},
	    {{"--idle=5", "-xt"}, "unknown option -x"},
	    {{"--bogus"}, "unknown option --bogus"},
	    {{"--bogus=1"}, "unknown option --bogus"},
	    {{"--temporary=1"}, "option --temporary takes no argument"},
	    {{"--help=yes"}, "option --help takes no argument"},
	    {{"-d"}, "option -d needs a value"},
	    {{"-ti"}, "option -i needs a value"},
	    {{"-t", "--idle"}, "option --idle needs a value"},
	    {{"-i", "0"}, "-i 0: is out of range (1 to 86400)"},
	    {{"-i", "86401"}, "-i 86401: is out of range (1 to 86400)"},
	    {{"--idle=5s"}, "-i 5s: is not a decimal number"},
	    {{"-w", "0"}, "-w 0: is out of range (1 to 3600)"},
	    {{"--request-time=3601"}, "-w 3601: is out of range (1 to 3600)"},
	    {{"-l", "8191"}, "-l 8191: is out of range (8192 to 65536)"},
	    {{"-l", "65537"}, "-l 65537: is out of range (8192 to 65536)"},
	    {{"-r", "1048577"}, "-r 1048577: is out of range (8192 to 1048576)"},
	    {{"-r", "8192"}, "-r 8192: smaller than the longest line (16384)"},
	    {{"-a", "0"}, "-a 0: is out of range (1 to 4096)"},
	    {{"-a", "99999999999999999999"},
	     "-a 99999999999999999999: is out of range (1 to 4096)"},
	    {{"-a", ""}, "-a : is not a decimal number"},
	    {{"-d", "+@"}, "-d: @ cannot be a recipient delimiter"},
	    {{"user@example.org"}, "domain 'user@example.org': not a domain name"},
	    {{""}, "domain '': not a domain name"},
	};
	for (const auto &[words, want] : cases) {
		options::Options o;
		o.idle = 42;
		std::string error;
		EXPECT_FALSE(parse(words, &o, &error)) << want;
		EXPECT_EQ(error, want);
		EXPECT_EQ(o.idle, 42) << "untouched on error";
	}
}

} // namespace
