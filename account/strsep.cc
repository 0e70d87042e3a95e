// SPDX-License-Identifier: ISC
// strsep - split a string in place at separator characters.
//
// The usual semantics: adjacent separators give empty tokens, and a string
// ending in a separator gives one further, empty token. Writes only into the
// caller's string; keeps no state; thread-safe.
#include "strsep.h"

#include <cstring>

namespace account {

char *strsep(char **stringp, const char *delim)
{
	char *token = *stringp;
	if (token == nullptr)
		return nullptr;
	char *end = token + std::strcspn(token, delim);
	if (*end == '\0') {
		*stringp = nullptr;
	} else {
		*end = '\0';
		*stringp = end + 1;
	}
	return token;
}

} // namespace account
