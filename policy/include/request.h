// SPDX-License-Identifier: ISC
// request.h - reading policy delegation requests from a byte stream.
//
// A request is a run of "name=value" lines ended by an empty line; the
// reader takes bytes as they arrive, in pieces of any size, and hands out
// each complete request. It holds one buffer of Limits::request_max bytes,
// allocated once, so a client can never make it grow. Input it will not
// take is a Fault; after one the reader takes nothing more, and the
// connection is to be closed without an answer.
//
// Single-threaded; one Reader per connection. Prints and logs nothing.
#ifndef POLICY_REQUEST_H
#define POLICY_REQUEST_H

#include <cstddef>
#include <memory>
#include <span>
#include <string_view>

namespace request {

struct Limits {
	std::size_t line_max = 16384;     // bytes of one line, its newline not counted
	std::size_t request_max = 65536;  // bytes of one request, every newline counted
	std::size_t attributes_max = 256; // name=value lines in one request
};

enum class Fault {
	none,
	long_line,       // a line longer than line_max
	long_request,    // a request larger than request_max
	many_attributes, // more than attributes_max lines in one request
	binary,          // a NUL or other control byte (tab, CR and DEL too) in
	                 // an attribute the policy reads (Request, request=)
	malformed,       // a line that is not name=value with a name
	no_request,      // a request without request=
	unknown_request, // request= names something other than smtpd_access_policy
	truncated,       // the input ended inside a request
};

// What went wrong, in a few words for the log ("line longer than the
// limit"); the limits are added by the caller.
const char *describe(Fault fault);

// The attributes the policy needs, as views into the reader's buffer; empty
// when absent. Where a name is repeated, its last value counts.
struct Request {
	std::string_view protocol_state;
	std::string_view recipient;
	std::string_view recipient_count;
	std::string_view size;
};

class Reader {
public:
	explicit Reader(const Limits &limits);

	// Where the next bytes read go: never empty unless there is a fault.
	std::span<char> space();
	// n bytes (at most space().size()) have been written into space().
	void filled(std::size_t n);
	// The next complete request: true and *out set (its views stay valid
	// until the next call of next, space or filled); false when more input
	// is needed or there is a fault.
	bool next(Request *out);
	// The input has ended: a request begun but not finished is a fault.
	void end();

	Fault fault() const { return fault_; }
	// Bytes of an unfinished request are held.
	bool inside() const { return end_ > begin_; }
	const Limits &limits() const { return limits_; }

private:
	struct Field {
		std::size_t at = 0, size = 0; // from begin_
	};
	bool line(std::size_t start, std::size_t stop);
	bool finish(Request *out);
	void reset();

	Limits limits_;
	std::unique_ptr<char[]> buf_;
	std::size_t begin_ = 0; // start of the request being read
	std::size_t scan_ = 0;  // start of its first line not yet taken
	std::size_t end_ = 0;   // end of the bytes held
	std::size_t attributes_ = 0;
	bool has_request_ = false;
	bool policy_request_ = false;
	Field state_, recipient_, count_, size_;
	Fault fault_ = Fault::none;
};

} // namespace request

#endif
