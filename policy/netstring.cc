// SPDX-License-Identifier: ISC
// netstring - the reader of socketmap lookups (netstring.h).
//
// A lookup is parsed afresh from its first byte whenever more input has
// come; its length is refused as soon as its digits make it larger than
// the limit, without waiting for the colon. Held bytes of an unfinished
// lookup move to the front of the buffer when more room is needed.
#include "netstring.h"

#include <cstring>

namespace netstring {
namespace {

// Room for the length's digits (of max, with leading zeros refused past
// these), the colon and the comma.
constexpr std::size_t frame = 24;

} // namespace

const char *describe(Fault fault)
{
	switch (fault) {
	case Fault::none:
		return "no fault";
	case Fault::long_lookup:
		return "netstring longer than the limit";
	case Fault::binary:
		return "control character in the input";
	case Fault::malformed:
		return "malformed netstring";
	case Fault::truncated:
		return "input ended inside a netstring";
	}
	return "unknown fault";
}

Reader::Reader(std::size_t max)
    : max_(max), size_(max + frame), buf_(std::make_unique<char[]>(max + frame))
{
}

std::span<char> Reader::space()
{
	if (fault_ != Fault::none)
		return {};
	if (begin_ > 0) {
		std::memmove(buf_.get(), buf_.get() + begin_, end_ - begin_);
		end_ -= begin_;
		begin_ = 0;
	}
	return {buf_.get() + end_, size_ - end_};
}

void Reader::filled(std::size_t n)
{
	end_ += n;
}

bool Reader::next(Lookup *out)
{
	if (fault_ != Fault::none || begin_ == end_)
		return false;
	const char *p = buf_.get() + begin_;
	std::size_t held = end_ - begin_;
	std::size_t i = 0, length = 0;
	for (; i < held && p[i] >= '0' && p[i] <= '9'; i++) {
		length = length * 10 + static_cast<std::size_t>(p[i] - '0');
		if (length > max_ || i + 1 >= frame - 2) {
			fault_ = Fault::long_lookup;
			return false;
		}
	}
	if (i == held)
		return false; // more digits may follow
	if (i == 0 || p[i] != ':') {
		fault_ = Fault::malformed;
		return false;
	}
	std::size_t data = i + 1;
	if (held < data + length + 1)
		return false;
	if (p[data + length] != ',') {
		fault_ = Fault::malformed;
		return false;
	}
	std::string_view text(p + data, length);
	for (char c : text) {
		auto u = static_cast<unsigned char>(c);
		if (u < 0x20 || u == 0x7f) {
			fault_ = Fault::binary;
			return false;
		}
	}
	std::size_t blank = text.find(' ');
	if (blank == std::string_view::npos || blank == 0) {
		fault_ = Fault::malformed;
		return false;
	}
	*out = Lookup{text.substr(0, blank), text.substr(blank + 1)};
	begin_ += data + length + 1;
	return true;
}

void Reader::end()
{
	if (fault_ == Fault::none && inside())
		fault_ = Fault::truncated;
}

std::string encode(std::string_view text)
{
	std::string out = std::to_string(text.size());
	out += ':';
	out += text;
	out += ',';
	return out;
}

} // namespace netstring
