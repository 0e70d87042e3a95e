// SPDX-License-Identifier: ISC
// netstring.h - reading socketmap lookups from a byte stream, and writing
// netstrings.
//
// A lookup is one netstring, "LENGTH:NAME KEY,", LENGTH the decimal count
// of the bytes between the colon and the comma; a client may send many on
// one connection. The reader takes bytes as they arrive, in pieces of any
// size, and hands out each complete lookup as its map name and key. It
// holds one buffer, allocated once, of the largest lookup it takes plus its
// frame, so a client can never make it grow. Input it will not take is a
// Fault; after one the reader takes nothing more, and the connection is to
// be closed without an answer.
//
// Single-threaded; one Reader per connection. Prints and logs nothing.
#ifndef POLICY_NETSTRING_H
#define POLICY_NETSTRING_H

#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace netstring {

enum class Fault {
	none,
	long_lookup, // a length larger than the largest lookup taken
	binary,      // a NUL or other control byte (tab, CR and DEL too) inside
	malformed,   // no length, no colon, no comma, or no space after the name
	truncated,   // the input ended inside a lookup
};

// What went wrong, in a few words for the log.
const char *describe(Fault fault);

// Whether a stream that starts with byte c is one of netstrings: it starts
// with a digit, where a policy request starts with a letter.
inline bool starts(char c)
{
	return c >= '0' && c <= '9';
}

// One lookup, as views into the reader's buffer.
struct Lookup {
	std::string_view name;
	std::string_view key; // may be empty
};

class Reader {
public:
	// Takes lookups of at most max bytes between colon and comma.
	explicit Reader(std::size_t max);

	// Where the next bytes read go: never empty unless there is a fault.
	std::span<char> space();
	// n bytes (at most space().size()) have been written into space().
	void filled(std::size_t n);
	// The next complete lookup: true and *out set (its views stay valid
	// until the next call of next, space or filled); false when more input
	// is needed or there is a fault.
	bool next(Lookup *out);
	// The input has ended: a lookup begun but not finished is a fault.
	void end();

	Fault fault() const { return fault_; }
	// Bytes of an unfinished lookup are held.
	bool inside() const { return end_ > begin_; }

private:
	std::size_t max_;
	std::size_t size_; // of the buffer
	std::unique_ptr<char[]> buf_;
	std::size_t begin_ = 0; // start of the lookup being read
	std::size_t end_ = 0;   // end of the bytes held
	Fault fault_ = Fault::none;
};

// text as a netstring.
std::string encode(std::string_view text);

} // namespace netstring

#endif
