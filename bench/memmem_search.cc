// SPDX-License-Identifier: ISC
// memmem_search - the flat file's keyed search done by the C library's
// memmem instead of the vector search of account/bytesearch.cc, for
// lookup_bench_memmem: the same lookup with only the search changed, so that
// the two can be timed side by side (bench/README.md, "Byte search").
// Stateless; thread-safe.
#include <string.h>

#include "bytesearch.h"

namespace account::bytesearch {

const char *find(const char *p, const char *end, const char *needle, std::size_t m)
{
	auto left = static_cast<std::size_t>(end - p);
	const void *hit = left < m ? nullptr : ::memmem(p, left, needle, m);
	return hit != nullptr ? static_cast<const char *>(hit) : end;
}

} // namespace account::bytesearch
