// SPDX-License-Identifier: ISC
// warning - the one wording of the over-limit warning, for every front end
// that shows it (spoolnag on a terminal, the PAM module through the login's
// conversation), so they cannot drift apart.
//
// Formats into the caller's buffer; allocates nothing, keeps no state,
// thread-safe. Needs nothing of the C++ runtime.
#include "warning.h"

#include <cstdio>

#include "mailbox.h"

namespace warning {

std::size_t format(std::span<char> buf, const char *login, long long size, int limit)
{
	int n = std::snprintf(
	    buf.data(), buf.size(),
	    "\n** WARNING: system mailbox %s%s is over quota (%lld bytes). **\n"
	    "** Until YOU make it less then %lld bytes, you will receive NO MORE MAIL. **\n\n",
	    mailbox::spool_dir, login, size, static_cast<long long>(limit) + 1);
	// snprintf fails only on an encoding error, which %s and %lld cannot
	// meet; report it as a text that does not fit.
	return n < 0 ? buf.size() : static_cast<std::size_t>(n);
}

} // namespace warning
