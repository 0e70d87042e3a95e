// SPDX-License-Identifier: ISC
// bytesearch - finding a short byte string in a block of the password file.
//
// Interface: bytesearch.h. The places holding the needle's first byte, with
// its middle and last bytes at their distances further on, are picked out a
// vector at a time (16 bytes with SSE2, 32 with AVX2 where the processor has
// it), and only those are compared whole; the few bytes too close to the end
// for a whole vector are searched with memchr. Every load lies inside
// [p, end): a vector of candidates starts no later than end - m - 15 (31
// with AVX2), so its load of last bytes ends at end - 1 at the latest.
//
// Stateless but for the processor check made once, at the first search;
// thread-safe. No diagnostics.
#include "bytesearch.h"

#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#include <sys/platform/x86.h>
#endif

namespace account::bytesearch {

const char *find_bytes(const char *p, const char *end, const char *needle, std::size_t m)
{
	const char *last = end - m;
	for (; p <= last; p++) {
		p = static_cast<const char *>(
		    std::memchr(p, needle[0], static_cast<std::size_t>(last - p) + 1));
		if (p == nullptr)
			return end;
		if (std::memcmp(p, needle, m) == 0)
			return p;
	}
	return end;
}

#if defined(__x86_64__)
// The candidates are gathered by a loop that calls nothing, so that its
// vectors stay in registers; each batch is then checked with memcmp.
const char *find_sse2(const char *p, const char *end, const char *needle, std::size_t m)
{
	const char *last = end - m;
	const std::size_t half = m / 2;
	while (last - p >= 15) {
		unsigned mask = 0;
		const __m128i first = _mm_set1_epi8(needle[0]);
		const __m128i middle = _mm_set1_epi8(needle[half]);
		const __m128i final = _mm_set1_epi8(needle[m - 1]);
		for (; last - p >= 15 && mask == 0; p += 16) {
			__m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
			__m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + half));
			__m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + m - 1));
			mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(
			    _mm_and_si128(_mm_cmpeq_epi8(a, first), _mm_cmpeq_epi8(b, middle)),
			    _mm_cmpeq_epi8(c, final))));
		}
		for (const char *at = p - 16; mask != 0; mask &= mask - 1)
			if (std::memcmp(at + __builtin_ctz(mask), needle, m) == 0)
				return at + __builtin_ctz(mask);
	}
	return find_bytes(p, end, needle, m);
}

__attribute__((target("avx2"))) const char *find_avx2(const char *p, const char *end,
                                                      const char *needle, std::size_t m)
{
	const char *last = end - m;
	const std::size_t half = m / 2;
	while (last - p >= 31) {
		unsigned mask = 0;
		const __m256i first = _mm256_set1_epi8(needle[0]);
		const __m256i middle = _mm256_set1_epi8(needle[half]);
		const __m256i final = _mm256_set1_epi8(needle[m - 1]);
		for (; last - p >= 31 && mask == 0; p += 32) {
			__m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
			__m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p + half));
			__m256i c =
			    _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p + m - 1));
			mask = static_cast<unsigned>(_mm256_movemask_epi8(
			    _mm256_and_si256(_mm256_and_si256(_mm256_cmpeq_epi8(a, first),
			                                      _mm256_cmpeq_epi8(b, middle)),
			                     _mm256_cmpeq_epi8(c, final))));
		}
		for (const char *at = p - 32; mask != 0; mask &= mask - 1)
			if (std::memcmp(at + __builtin_ctz(mask), needle, m) == 0)
				return at + __builtin_ctz(mask);
	}
	return find_sse2(p, end, needle, m);
}
#endif

const char *find(const char *p, const char *end, const char *needle, std::size_t m)
{
	if (static_cast<std::size_t>(end - p) < m)
		return end;
#if defined(__x86_64__)
	// From what the C library found at start: asking the processor
	// again would cost more than a small scan.
	static const bool avx2 = CPU_FEATURE_ACTIVE(AVX2);
	return avx2 ? find_avx2(p, end, needle, m) : find_sse2(p, end, needle, m);
#else
	return find_bytes(p, end, needle, m);
#endif
}

} // namespace account::bytesearch
