// SPDX-License-Identifier: ISC
// fuzz_netstring - boxpolicy's socketmap lookup reader against a model of
// the netstring framing.
//
// Input: one byte choosing the size of the pieces the stream arrives in
// (1 to 16 bytes, as reads may bring it), then the stream. The reader, fed
// in those pieces with a small bound, must hand out exactly the lookups and
// then the fault of a model written from the format alone: a lookup is
// decimal digits, a colon, that many bytes, a comma; a length over the
// bound or of more than 21 digits is too long; no digits, or another byte
// where the colon or the comma belongs, is malformed; a control byte in the
// bytes is binary; bytes without a space after a non-empty map name are
// malformed; a stream ending inside a lookup is truncated.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "feed.h"
#include "harness.h"
#include "netstring.h"

namespace {

constexpr std::size_t max = 24;

using netstring::Fault;

std::string fault_name(Fault f)
{
	return netstring::describe(f);
}

// The lookups and the fault the format gives for the whole stream.
std::string model(std::string_view in)
{
	std::string out;
	for (std::size_t pos = 0; pos < in.size();) {
		std::size_t digits = 0;
		std::size_t length = 0;
		while (pos + digits < in.size() && in[pos + digits] >= '0' &&
		       in[pos + digits] <= '9') {
			length = std::min<std::size_t>(
			    length * 10 + static_cast<std::size_t>(in[pos + digits] - '0'),
			    max + 1);
			digits++;
		}
		if (length > max || digits > 21)
			return out + fault_name(Fault::long_lookup);
		if (pos + digits == in.size())
			return out + fault_name(Fault::truncated);
		if (digits == 0 || in[pos + digits] != ':')
			return out + fault_name(Fault::malformed);
		std::size_t data = pos + digits + 1;
		if (in.size() < data + length + 1)
			return out + fault_name(Fault::truncated);
		if (in[data + length] != ',')
			return out + fault_name(Fault::malformed);
		std::string_view text = in.substr(data, length);
		if (std::any_of(text.begin(), text.end(), [](char c) {
			    auto u = static_cast<unsigned char>(c);
			    return u < 0x20 || u == 0x7f;
		    }))
			return out + fault_name(Fault::binary);
		std::size_t space = text.find(' ');
		if (space == std::string_view::npos || space == 0)
			return out + fault_name(Fault::malformed);
		out += std::string(text.substr(0, space)) + "|" +
		       std::string(text.substr(space + 1)) + ";";
		pos = data + length + 1;
	}
	return out + fault_name(Fault::none);
}

// What the reader hands out when the stream arrives in pieces of chunk.
std::string read(std::string_view in, std::size_t chunk)
{
	netstring::Reader reader(max);
	std::string out;
	feed::pieces(reader, &in, chunk, [&](netstring::Reader &rd) {
		netstring::Lookup look;
		while (rd.next(&look)) {
			harness::expect(look.name.size() + 1 + look.key.size() <= max,
			                "a lookup longer than the bound");
			out += std::string(look.name) + "|" + std::string(look.key) + ";";
		}
	});
	if (reader.fault() == Fault::none) {
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
