// SPDX-License-Identifier: ISC
// feed.h - handing bytes already in memory to one of boxpolicy's stream
// readers (request::Reader, netstring::Reader: space(), filled(), fault()),
// in pieces of at most chunk bytes, and taking what the reader hands out
// after each piece.
//
// The program uses it for the bytes read before it knew which protocol the
// client speaks; the tests and fuzz targets to make a stream arrive in
// pieces. Header-only, no state of its own.
#ifndef POLICY_FEED_H
#define POLICY_FEED_H

#include <algorithm>
#include <cstddef>
#include <span>
#include <string_view>

namespace feed {

// Feeds *in to reader until it is used up or the reader faults, calling
// take(reader) after each piece; *in keeps what was not handed over. It
// also stops, with bytes left, when the reader has no room and no fault,
// which a reader that keeps its bounds never does.
template <class Reader, class Take>
void pieces(Reader &reader, std::string_view *in, std::size_t chunk, Take take)
{
	using Fault = decltype(reader.fault());
	while (!in->empty() && reader.fault() == Fault::none) {
		std::span<char> space = reader.space();
		std::size_t n = std::min({chunk, space.size(), in->size()});
		if (n == 0)
			return;
		in->copy(space.data(), n);
		reader.filled(n);
		in->remove_prefix(n);
		take(reader);
	}
}

} // namespace feed

#endif
