// SPDX-License-Identifier: ISC
// request - the reader of policy delegation requests (request.h).
//
// Each line is checked once, when its newline arrives; a line still
// growing is refused as soon as it is longer than the limit, without
// waiting for its end. Held bytes of an unfinished request move to the
// front of the buffer when more room is needed, so the buffer is never
// larger than one request.
#include "request.h"

#include <cstring>

namespace request {
namespace {

// The attributes the policy reads. Only these must be free of control
// bytes: the others (client names, certificate subjects, SASL names) come
// from the outside world, and a byte in one of them is no reason to leave
// the client without answers.
bool used(std::string_view name)
{
	return name == "request" || name == "protocol_state" || name == "recipient" ||
	       name == "size" || name == "recipient_count";
}

bool has_control(std::string_view line)
{
	for (char ch : line) {
		auto c = static_cast<unsigned char>(ch);
		if (c < 0x20 || c == 0x7f)
			return true;
	}
	return false;
}

} // namespace

const char *describe(Fault fault)
{
	switch (fault) {
	case Fault::none:
		return "no fault";
	case Fault::long_line:
		return "line longer than the limit";
	case Fault::long_request:
		return "request larger than the limit";
	case Fault::many_attributes:
		return "more attributes than the limit";
	case Fault::binary:
		return "control character in the input";
	case Fault::malformed:
		return "line without name=value";
	case Fault::no_request:
		return "request without request=";
	case Fault::unknown_request:
		return "unknown request type";
	case Fault::truncated:
		return "input ended inside a request";
	}
	return "unknown fault";
}

Reader::Reader(const Limits &limits)
    : limits_(limits), buf_(std::make_unique<char[]>(limits.request_max))
{
}

std::span<char> Reader::space()
{
	if (fault_ != Fault::none)
		return {};
	return {buf_.get() + end_, limits_.request_max - end_};
}

void Reader::filled(std::size_t n)
{
	end_ += n;
}

bool Reader::next(Request *out)
{
	if (fault_ != Fault::none)
		return false;
	while (scan_ < end_) {
		const char *base = buf_.get();
		const void *nl = std::memchr(base + scan_, '\n', end_ - scan_);
		if (nl == nullptr)
			break;
		std::size_t stop = static_cast<std::size_t>(static_cast<const char *>(nl) - base);
		std::size_t start = scan_;
		scan_ = stop + 1;
		if (start == stop)
			return finish(out);
		if (!line(start, stop))
			return false;
	}
	// More input is needed: the unfinished line may not grow past the
	// limit, and the unfinished request must leave room to grow.
	if (end_ - scan_ > limits_.line_max) {
		fault_ = Fault::long_line;
		return false;
	}
	if (begin_ > 0) {
		std::memmove(buf_.get(), buf_.get() + begin_, end_ - begin_);
		scan_ -= begin_;
		end_ -= begin_;
		begin_ = 0;
	}
	if (end_ == limits_.request_max)
		fault_ = Fault::long_request;
	return false;
}

void Reader::end()
{
	if (fault_ == Fault::none && inside())
		fault_ = Fault::truncated;
}

// Takes the line [start, stop) of the current request.
bool Reader::line(std::size_t start, std::size_t stop)
{
	const char *p = buf_.get() + start;
	std::size_t n = stop - start;
	if (n > limits_.line_max) {
		fault_ = Fault::long_line;
		return false;
	}
	const void *eq = std::memchr(p, '=', n);
	if (eq == nullptr || eq == p) {
		fault_ = Fault::malformed;
		return false;
	}
	if (++attributes_ > limits_.attributes_max) {
		fault_ = Fault::many_attributes;
		return false;
	}
	std::string_view name(p, static_cast<std::size_t>(static_cast<const char *>(eq) - p));
	if (used(name) && has_control(std::string_view(p, n))) {
		fault_ = Fault::binary;
		return false;
	}
	Field value{start + name.size() + 1 - begin_, n - name.size() - 1};
	if (name == "request") {
		has_request_ = true;
		policy_request_ =
		    std::string_view(p + name.size() + 1, value.size) == "smtpd_access_policy";
	} else if (name == "protocol_state") {
		state_ = value;
	} else if (name == "recipient") {
		recipient_ = value;
	} else if (name == "recipient_count") {
		count_ = value;
	} else if (name == "size") {
		size_ = value;
	}
	return true;
}

// The empty line has been read: hands out the request, or the fault in it.
bool Reader::finish(Request *out)
{
	if (!has_request_) {
		fault_ = Fault::no_request;
		return false;
	}
	if (!policy_request_) {
		fault_ = Fault::unknown_request;
		return false;
	}
	const char *base = buf_.get() + begin_;
	auto view = [base](Field f) { return std::string_view(base + f.at, f.size); };
	*out = Request{view(state_), view(recipient_), view(count_), view(size_)};
	begin_ = scan_;
	reset();
	return true;
}

void Reader::reset()
{
	attributes_ = 0;
	has_request_ = policy_request_ = false;
	state_ = recipient_ = count_ = size_ = Field{};
}

} // namespace request
