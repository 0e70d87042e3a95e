// SPDX-License-Identifier: ISC
// bytesearch.h - finding a byte string in a buffer a vector at a time
// (internal header).
//
// The search behind the flat password file's keyed scans (flatfile.h): it
// answers exactly as memmem does, and reads nothing outside the buffer and
// the needle, so that it may run up to the very end of the bytes a block
// read left. Stateless; thread-safe.
#ifndef ACCOUNT_BYTESEARCH_H
#define ACCOUNT_BYTESEARCH_H

#include <cstddef>

namespace account::bytesearch {

// The first place in [p, end - m] where the m bytes of needle (m >= 1)
// occur, or end when there is none (so also when end - p < m). Reads only
// [p, end) and needle[0, m). Uses the fastest of the variants below that
// the processor has.
const char *find(const char *p, const char *end, const char *needle, std::size_t m);

// The variants find chooses from, each with find's answer when
// m <= end - p; declared here so that each can be tested on its own.
// Portable: memchr for the first byte, memcmp for the rest.
const char *find_bytes(const char *p, const char *end, const char *needle, std::size_t m);
#if defined(__x86_64__)
// 16 candidates at a time (SSE2, which every x86-64 processor has).
const char *find_sse2(const char *p, const char *end, const char *needle, std::size_t m);
// 32 candidates at a time; only on a processor with AVX2.
const char *find_avx2(const char *p, const char *end, const char *needle, std::size_t m);
#endif

} // namespace account::bytesearch

#endif
