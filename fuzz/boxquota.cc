// SPDX-License-Identifier: ISC
// fuzz_boxquota - the limit configuration reader against a model of its
// format.
//
// Input: the content of a limit configuration file. It is written to a
// scratch file, the limit module (its test build) is pointed there, and its
// three answers are compared with a model written from the file format alone:
// the file comes in pieces of at most 255 characters, each ending at a
// newline or where 255 were read; a piece starting with '#' is a comment; a
// piece from which a leading decimal number reads (blanks, sign, digits; the
// text ends at a NUL) is a value, saturated to 32 bits; the first two values
// count. The file is then rewritten: the module must keep what it loaded,
// except when the first value is -1, the "not loaded" mark, when every call
// reads the file again.
#include <climits>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "boxquota.h"
#include "boxquota_seam.h"
#include "harness.h"

namespace {

struct Limit {
	int min_user = 0;
	int max_size = 0;
};

// The pieces a 256-byte line buffer reads the text in.
std::vector<std::string_view> pieces(std::string_view text)
{
	std::vector<std::string_view> out;
	while (!text.empty()) {
		std::size_t n = 0;
		while (n < text.size() && n < 255 && text[n] != '\n')
			n++;
		if (n < text.size() && n < 255)
			n++; // the newline belongs to the piece
		out.push_back(text.substr(0, n));
		text.remove_prefix(n);
	}
	return out;
}

bool blank(char c)
{
	return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The leading number of the piece, saturated to 32 bits; false when none.
bool number(std::string_view piece, int *out)
{
	piece = piece.substr(0, piece.find('\0'));
	std::size_t i = 0;
	while (i < piece.size() && blank(piece[i]))
		i++;
	bool negative = false;
	if (i < piece.size() && (piece[i] == '+' || piece[i] == '-'))
		negative = piece[i++] == '-';
	if (i == piece.size() || piece[i] < '0' || piece[i] > '9')
		return false;
	// Anything past 2^32 saturates alike, so the magnitude stops growing there.
	std::uint64_t magnitude = 0;
	for (; i < piece.size() && piece[i] >= '0' && piece[i] <= '9'; i++) {
		magnitude = magnitude * 10 + static_cast<std::uint64_t>(piece[i] - '0');
		if (magnitude > (std::uint64_t{1} << 32))
			magnitude = std::uint64_t{1} << 32;
	}
	std::int64_t value =
	    negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
	*out = value > INT_MAX ? INT_MAX : value < INT_MIN ? INT_MIN : static_cast<int>(value);
	return true;
}

Limit model(std::string_view text)
{
	Limit limit;
	bool have_first = false;
	for (std::string_view piece : pieces(text)) {
		int value = 0;
		if (piece[0] == '#' || !number(piece, &value))
			continue;
		if (!have_first) {
			limit.min_user = value;
			have_first = true;
			continue;
		}
		limit.max_size = value;
		break;
	}
	return limit;
}

// The over-limit rule: a 0 in either value switches it off; strictly over.
int over(Limit limit, int uid, int size)
{
	return limit.min_user != 0 && uid >= limit.min_user && limit.max_size != 0 &&
	       size > limit.max_size;
}

// Values around v, kept inside the 32-bit range.
std::vector<int> around(int v)
{
	std::vector<int> out{INT_MIN, -1, 0, 1, INT_MAX, v};
	if (v > INT_MIN)
		out.push_back(v - 1);
	if (v < INT_MAX)
		out.push_back(v + 1);
	return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
	static harness::Scratch scratch;
	static const std::string path = scratch.path("boxquota");
	std::string_view text(reinterpret_cast<const char *>(data), size);
	harness::put_file(path, text);
	BoxquotaTestReset(path.c_str());

	Limit want = model(text);
	int min_user = MinLimitUid();
	int max_size = MailLimit();
	harness::expect(min_user == want.min_user && max_size == want.max_size,
	                "read (%d, %d), want (%d, %d)", min_user, max_size, want.min_user,
	                want.max_size);
	for (int uid : around(want.min_user)) {
		for (int mailbox : around(want.max_size)) {
			int got = OverMailLimit(uid, mailbox);
			harness::expect(got == over(want, uid, mailbox),
			                "OverMailLimit(%d, %d) = %d with limit (%d, %d)", uid,
			                mailbox, got, want.min_user, want.max_size);
		}
	}

	// Loaded once per process, unless the first value is the "not loaded" mark.
	harness::put_file(path, "7\n8\n");
	Limit after = want.min_user == -1 ? Limit{7, 8} : want;
	min_user = MinLimitUid();
	max_size = MailLimit();
	harness::expect(min_user == after.min_user && max_size == after.max_size,
	                "after a rewrite (%d, %d), want (%d, %d)", min_user, max_size,
	                after.min_user, after.max_size);
	return 0;
}
