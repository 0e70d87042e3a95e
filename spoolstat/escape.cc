// SPDX-License-Identifier: ISC
// escape - JSON string literals and safe text columns from raw bytes.
//
// Interface: escape.h. UTF-8 is checked by the table of well-formed byte
// sequences (no overlong forms, no surrogates, nothing above U+10FFFF).
// No I/O, no diagnostics, no state.
#include "escape.h"

#include <cstdio>

namespace escape {
namespace {

// The length of the well-formed UTF-8 sequence that starts s, or 0.
std::size_t utf8_length(std::string_view s)
{
	auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
	auto in = [&](std::size_t i, unsigned lo, unsigned hi) {
		return i < s.size() && byte(i) >= lo && byte(i) <= hi;
	};
	unsigned lead = byte(0);
	if (lead < 0x80)
		return 1;
	if (lead >= 0xC2 && lead <= 0xDF)
		return in(1, 0x80, 0xBF) ? 2 : 0;
	if (lead >= 0xE0 && lead <= 0xEF) {
		unsigned lo = lead == 0xE0 ? 0xA0 : 0x80; // no overlong forms
		unsigned hi = lead == 0xED ? 0x9F : 0xBF; // no surrogates
		return in(1, lo, hi) && in(2, 0x80, 0xBF) ? 3 : 0;
	}
	if (lead >= 0xF0 && lead <= 0xF4) {
		unsigned lo = lead == 0xF0 ? 0x90 : 0x80; // no overlong forms
		unsigned hi = lead == 0xF4 ? 0x8F : 0xBF; // nothing past U+10FFFF
		return in(1, lo, hi) && in(2, 0x80, 0xBF) && in(3, 0x80, 0xBF) ? 4 : 0;
	}
	return 0;
}

} // namespace

std::string json(std::string_view s)
{
	std::string out = "\"";
	while (!s.empty()) {
		unsigned char c = static_cast<unsigned char>(s[0]);
		std::size_t n = utf8_length(s);
		if (n == 0) {
			out += "\\ufffd";
			n = 1;
		} else if (c == '"' || c == '\\') {
			out += '\\';
			out += static_cast<char>(c);
		} else if (c < 0x20 || c == 0x7F) {
			char hex[8];
			std::snprintf(hex, sizeof hex, "\\u%04x", c);
			out += hex;
		} else {
			out.append(s.substr(0, n));
		}
		s.remove_prefix(n);
	}
	out += '"';
	return out;
}

std::string text(std::string_view s)
{
	std::string out;
	out.reserve(s.size());
	for (char ch : s) {
		unsigned char c = static_cast<unsigned char>(ch);
		if (c == '\\') {
			out += "\\\\";
		} else if (c > 0x20 && c < 0x7F) {
			out += ch;
		} else {
			char oct[8];
			std::snprintf(oct, sizeof oct, "\\%03o", c);
			out += oct;
		}
	}
	return out;
}

} // namespace escape
