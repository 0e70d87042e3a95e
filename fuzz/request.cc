// SPDX-License-Identifier: ISC
// fuzz_request - boxpolicy's request reader against a model of the policy
// delegation protocol's framing.
//
// Input: one byte choosing the size of the pieces the stream arrives in
// (1 to 16 bytes, as reads may bring it), then the stream. The reader, fed
// in those pieces with small bounds, must hand out exactly the requests and
// then the fault of a model written from the format alone: a request is
// the lines up to an empty line; it may span at most request_max bytes, so
// only the lines that end within that many bytes of its start are ever
// looked at, in order; a line longer than line_max, one without a named
// name=value, more than attributes_max lines, one of the attributes read
// (request, protocol_state, recipient, recipient_count, size) with a
// control byte, a
// request without request= or of another type, each stops the stream; an
// unfinished last line longer than line_max, or request_max bytes without
// the request's end, stop it too; otherwise a stream ending inside a
// request is truncated.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "feed.h"
#include "harness.h"
#include "request.h"

namespace {

const request::Limits limits{24, 96, 4};

std::string show(const request::Request &r)
{
	return std::string(r.protocol_state) + "|" + std::string(r.recipient) + "|" +
	       std::string(r.recipient_count) + "|" + std::string(r.size) + ";";
}

std::string fault_name(request::Fault f)
{
	return request::describe(f);
}

using request::Fault;

// The fault of one whole line, not empty, or none.
Fault line_fault(std::string_view line)
{
	if (line.size() > limits.line_max)
		return Fault::long_line;
	std::size_t eq = line.find('=');
	return eq == std::string_view::npos || eq == 0 ? Fault::malformed : Fault::none;
}

// The fault of a well-formed line counted within the bounds: a control byte
// in an attribute that is read.
Fault read_fault(std::string_view line)
{
	std::string_view name = line.substr(0, line.find('='));
	bool used = name == "request" || name == "protocol_state" || name == "recipient" ||
	            name == "recipient_count" || name == "size";
	bool control = std::any_of(line.begin(), line.end(), [](char c) {
		auto u = static_cast<unsigned char>(c);
		return u < 0x20 || u == 0x7f;
	});
	return used && control ? Fault::binary : Fault::none;
}

// A request as its lines are read.
struct Pending {
	std::size_t attributes = 0;
	bool has_request = false, policy = false;
	request::Request r;
};

void take(std::string_view line, Pending *p)
{
	std::size_t eq = line.find('=');
	std::string_view name = line.substr(0, eq), value = line.substr(eq + 1);
	if (name == "request") {
		p->has_request = true;
		p->policy = value == "smtpd_access_policy";
	} else if (name == "protocol_state") {
		p->r.protocol_state = value;
	} else if (name == "recipient") {
		p->r.recipient = value;
	} else if (name == "recipient_count") {
		p->r.recipient_count = value;
	} else if (name == "size") {
		p->r.size = value;
	}
}

// How a request's window of at most request_max bytes ends when it holds
// no empty line after pos: its last line too long, the window full, the
// input ended inside the request, or cleanly before it.
Fault unfinished(std::string_view window, std::size_t pos)
{
	if (window.size() - pos > limits.line_max)
		return Fault::long_line;
	if (window.size() == limits.request_max)
		return Fault::long_request;
	return window.empty() ? Fault::none : Fault::truncated;
}

// The requests and the fault the format gives for the whole stream.
std::string model(std::string_view in)
{
	std::string out;
	for (std::size_t start = 0;;) {
		std::string_view window = in.substr(start, limits.request_max);
		std::size_t pos = 0;
		Pending p;
		for (;;) {
			std::size_t nl = window.find('\n', pos);
			if (nl == std::string_view::npos)
				return out + fault_name(unfinished(window, pos));
			std::string_view line = window.substr(pos, nl - pos);
			pos = nl + 1;
			if (line.empty())
				break;
			Fault f = line_fault(line);
			if (f == Fault::none && ++p.attributes > limits.attributes_max)
				f = Fault::many_attributes;
			if (f == Fault::none)
				f = read_fault(line);
			if (f != Fault::none)
				return out + fault_name(f);
			take(line, &p);
		}
		if (!p.has_request)
			return out + fault_name(Fault::no_request);
		if (!p.policy)
			return out + fault_name(Fault::unknown_request);
		out += show(p.r);
		start += pos;
	}
}

// What the reader hands out when the stream arrives in pieces of chunk.
std::string read(std::string_view in, std::size_t chunk)
{
	request::Reader reader(limits);
	std::string out;
	feed::pieces(reader, &in, chunk, [&](request::Reader &rd) {
		request::Request r;
		while (rd.next(&r)) {
			harness::expect(r.recipient.size() <= limits.line_max,
			                "a value longer than a line");
			out += show(r);
		}
	});
	if (reader.fault() == request::Fault::none) {
		harness::expect(in.empty(), "no room to read into, and no fault");
		reader.end();
	}
	return out + fault_name(reader.fault());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
	if (size == 0)
		return 0;
	std::size_t chunk = 1 + data[0] % 16;
	std::string_view in(reinterpret_cast<const char *>(data + 1), size - 1);
	std::string want = model(in);
	std::string got = read(in, chunk);
	harness::expect(got == want, "in pieces of %zu: reader gave [%s], the format [%s]", chunk,
	                got.c_str(), want.c_str());
	return 0;
}
