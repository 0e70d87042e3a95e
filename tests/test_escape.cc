// SPDX-License-Identifier: ISC
// Unit tests of login escaping: JSON string literals stay valid JSON for any
// bytes, keep well-formed UTF-8, and the text form shows every odd byte.
#include <gtest/gtest.h>

#include <string>

#include "escape.h"

namespace {

struct EscapeCase {
	const char *name;
	std::string in;
	std::string json; // expected literal
	std::string text; // expected text column
};

class Escape : public testing::TestWithParam<EscapeCase> {};

TEST_P(Escape, JsonAndText)
{
	EXPECT_EQ(escape::json(GetParam().in), GetParam().json);
	EXPECT_EQ(escape::text(GetParam().in), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Escape, Escape, testing::Values(
	EscapeCase{"plain", "alice", "\"alice\"", "alice"},
	EscapeCase{"empty", "", "\"\"", ""},
	EscapeCase{"quote_backslash", "a\"b\\c", "\"a\\\"b\\\\c\"", "a\"b\\\\c"},
	EscapeCase{"controls", std::string("a\x01\n\t\x1f\x7f", 6),
	           "\"a\\u0001\\u000a\\u0009\\u001f\\u007f\"", "a\\001\\012\\011\\037\\177"},
	EscapeCase{"nul", std::string("a\0b", 3), "\"a\\u0000b\"", "a\\000b"},
	EscapeCase{"blank", "a b", "\"a b\"", "a\\040b"},
	EscapeCase{"terminal_escape", "\x1b[2J", "\"\\u001b[2J\"", "\\033[2J"},
	EscapeCase{"utf8_kept", "j\xc3\xbcrgen\xe2\x82\xac\xf0\x9f\x93\xab",
	           "\"j\xc3\xbcrgen\xe2\x82\xac\xf0\x9f\x93\xab\"",
	           "j\\303\\274rgen\\342\\202\\254\\360\\237\\223\\253"},
	EscapeCase{"latin1_byte", "j\xfcrgen", "\"j\\ufffdrgen\"", "j\\374rgen"},
	EscapeCase{"overlong_slash", "\xc0\xaf", "\"\\ufffd\\ufffd\"", "\\300\\257"},
	EscapeCase{"surrogate", "\xed\xa0\x80", "\"\\ufffd\\ufffd\\ufffd\"", "\\355\\240\\200"},
	EscapeCase{"past_unicode", "\xf4\x90\x80\x80", "\"\\ufffd\\ufffd\\ufffd\\ufffd\"",
	           "\\364\\220\\200\\200"},
	EscapeCase{"cut_short_at_end", "a\xe2\x82", "\"a\\ufffd\\ufffd\"", "a\\342\\202"},
	EscapeCase{"cut_short_before_ascii", "\xe2\x82\"", "\"\\ufffd\\ufffd\\\"\"", "\\342\\202\""},
	EscapeCase{"lone_continuation", "\x80x", "\"\\ufffdx\"", "\\200x"}),
	[](const auto &p) { return std::string(p.param.name); });

// The second byte of a multi-byte sequence decides whether it is well
// formed: for every value of it, the sequence passes through whole exactly
// within the range the lead byte allows, and otherwise its lead byte is
// replaced. No raw control byte ever appears.
struct SecondByte {
	std::string lead, tail;
	int lo, hi; // the second byte values that make a well-formed sequence
};

TEST(Escape, JsonKeepsExactlyTheWellFormedSequences)
{
	const SecondByte cases[] = {
		{"", "", 256, 256},                  // one byte alone: none above 0x7f
		{"\xc2", "", 0x80, 0xbf},
		{"\xc1", "", 256, 256},             // overlong lead: never
		{"\xe0", "\x80", 0xa0, 0xbf},
		{"\xe2", "\x82", 0x80, 0xbf},
		{"\xed", "\x80", 0x80, 0x9f},      // above: surrogates
		{"\xf0", "\x80\x80", 0x90, 0xbf},
		{"\xf4", "\x80\x80", 0x80, 0x8f}, // above: past U+10FFFF
		{"\xf5", "\x80\x80", 256, 256},
		{"\xe2", "", 256, 256},             // cut short
	};
	for (const SecondByte &c : cases) {
		for (int b = 0x80; b < 256; b++) {
			std::string in = c.lead + static_cast<char>(b) + c.tail;
			std::string out = escape::json(in);
			bool kept = out == "\"" + in + "\"";
			for (char ch : out)
				ASSERT_GE(static_cast<unsigned char>(ch), 0x20);
			bool valid = b >= c.lo && b <= c.hi;
			EXPECT_EQ(kept, valid) << "lead " << int(static_cast<unsigned char>(c.lead[0]))
			                       << " second " << b;
			if (!valid) {
				EXPECT_TRUE(out.starts_with("\"\\ufffd")) << out;
			}
		}
	}
}

} // namespace
