// SPDX-License-Identifier: ISC
// Differential tests of the byte search against memmem. Haystacks of random
// bytes over small alphabets (so that partial matches abound) and needles of
// 1 to 300 bytes, many cut from the haystack, are searched at every
// alignment of the haystack's start, with the haystack ending right before
// an unreadable page and starting right after one, so that a read past
// either end faults. Each variant the processor can run is held to memmem,
// and so is the find that chooses among them.
#include <gtest/gtest.h>

#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "bytesearch.h"

namespace {

using Find = const char *(*)(const char *, const char *, const char *, std::size_t);

struct Variant {
	const char *name;
	Find find;
	bool whole_contract; // also m > end - p, as only find() promises
};

void PrintTo(const Variant &v, std::ostream *os)
{
	*os << v.name;
}

// Readable memory with an inaccessible page on either side.
class Guarded {
public:
	Guarded()
	{
		page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
		void *m = mmap(nullptr, 4 * page, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
		if (m == MAP_FAILED)
			return;
		base = static_cast<char *>(m);
		if (mprotect(base + page, 2 * page, PROT_READ | PROT_WRITE) != 0)
			base = nullptr;
	}
	~Guarded()
	{
		if (base != nullptr)
			munmap(base, 4 * page);
	}
	Guarded(const Guarded &) = delete;
	Guarded &operator=(const Guarded &) = delete;

	bool ok() const { return base != nullptr; }
	std::size_t room() const { return 2 * page; }
	// s copied to end just before the trailing guard page, or to start
	// `offset` bytes after the leading one.
	std::string_view at_end(std::string_view s) const
	{
		return put(base + 3 * page - s.size(), s);
	}
	std::string_view at_start(std::string_view s, std::size_t offset) const
	{
		return put(base + page + offset, s);
	}

private:
	static std::string_view put(char *to, std::string_view s)
	{
		std::copy(s.begin(), s.end(), to);
		return {to, s.size()};
	}
	std::size_t page = 0;
	char *base = nullptr;
};

class ByteSearch : public testing::TestWithParam<Variant> {
protected:
	Guarded hay, pin; // haystack and needle, each against guard pages
	std::mt19937 rng{20261208};
	int checked = 0;

	std::string random_bytes(std::size_t n, std::string_view alphabet)
	{
		std::string s(n, '\0');
		for (char &c : s) {
			if (alphabet.empty())
				c = static_cast<char>(rng() & 0xff);
			else
				c = alphabet[rng() % alphabet.size()];
		}
		return s;
	}

	// The variant against memmem on haystack h and needle n, the needle
	// placed against a guard page too.
	void check(std::string_view h, std::string_view needle_text, const char *where)
	{
		std::string_view n = pin.at_end(needle_text);
		const char *end = h.data() + h.size();
		if (n.size() > h.size() && !GetParam().whole_contract)
			return;
		const void *hit = memmem(h.data(), h.size(), n.data(), n.size());
		const char *want = hit != nullptr ? static_cast<const char *>(hit) : end;
		const char *got = GetParam().find(h.data(), end, n.data(), n.size());
		checked++;
		ASSERT_EQ(got - h.data(), want - h.data())
		    << where << ": haystack of " << h.size() << " at alignment "
		    << reinterpret_cast<std::uintptr_t>(h.data()) % 64 << ", needle of " << n.size()
		    << " bytes";
	}

	// Needles for haystack h: pieces of it (each found), pieces with a
	// byte changed (partly matching), its tail cut short by the end, and
	// random ones.
	std::vector<std::string> needles(const std::string &h, std::string_view alphabet)
	{
		static constexpr std::size_t lengths[] = {1,  2,  3,  7,  11, 16,
		                                          17, 31, 32, 33, 40, 300};
		std::vector<std::string> out;
		for (std::size_t m : lengths) {
			if (m <= h.size()) {
				std::string piece = h.substr(rng() % (h.size() - m + 1), m);
				out.push_back(piece);
				piece[rng() % m] ^= 1;
				out.push_back(piece);
				out.push_back(h.substr(h.size() - m + 1) +
				              "\x01"); // cut by the end
			}
			out.push_back(random_bytes(m, alphabet));
		}
		return out;
	}
};

TEST_P(ByteSearch, AgreesWithMemmem)
{
	if (GetParam().find == nullptr)
		GTEST_SKIP() << "the processor lacks " << GetParam().name;
	ASSERT_TRUE(hay.ok() && pin.ok());
	const std::string_view alphabets[] = {"ab", "01:\n", "0123456789:\n", ""};
	for (std::string_view alphabet : alphabets) {
		// Ending at the guard page: the lengths from 0 to 400 put the
		// start at every alignment several times over.
		for (std::size_t size = 0; size <= 400; size++) {
			std::string h = random_bytes(size, alphabet);
			for (const std::string &n : needles(h, alphabet))
				ASSERT_NO_FATAL_FAILURE(check(hay.at_end(h), n, "at the end"));
		}
		// Starting at the guard page, at every alignment, with lengths
		// up to whole blocks of vectors and past them.
		for (std::size_t offset = 0; offset < 64; offset++) {
			std::string h = random_bytes(rng() % 1000, alphabet);
			for (const std::string &n : needles(h, alphabet))
				ASSERT_NO_FATAL_FAILURE(
				    check(hay.at_start(h, offset), n, "at the start"));
		}
	}
	// Nothing but partial matches over a whole buffer, the needle's first,
	// middle and last bytes everywhere: the candidates fill every vector.
	std::string h(hay.room(), 'a');
	for (std::string n : {"aba", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaab", "aaaaaaaaaaaaaaaab"}) {
		ASSERT_NO_FATAL_FAILURE(check(hay.at_end(h), n, "all candidates"));
		h.back() = 'b';
		ASSERT_NO_FATAL_FAILURE(check(hay.at_end(h), n, "all candidates, last one"));
		h.back() = 'a';
	}
	EXPECT_GT(checked, 10000);
}

std::vector<Variant> variants()
{
	using namespace account::bytesearch;
	std::vector<Variant> v = {{"find", find, true}, {"find_bytes", find_bytes, false}};
#if defined(__x86_64__)
	v.push_back({"find_sse2", find_sse2, false});
	v.push_back({"find_avx2", __builtin_cpu_supports("avx2") ? find_avx2 : nullptr, false});
#endif
	return v;
}

INSTANTIATE_TEST_SUITE_P(Account, ByteSearch, testing::ValuesIn(variants()),
                         [](const auto &p) { return std::string(p.param.name); });

} // namespace
