// SPDX-License-Identifier: ISC
// spoolnag - warn the caller whose system mailbox is over the site's limit.
//
// Usage: spoolnag (arguments are ignored). Finds the caller's account by real
// uid with the system's own lookup, measures /var/mail/<login> and asks the
// boxquota policy. Over the limit: a two-line warning on standard output.
// Otherwise silent. Exit 0 when the check ran, 1 with "Who are you?" on
// standard error when the caller has no account. Reads files only.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "boxquota.h"
#include "getpwent.h"
#include "mailbox.h"
#include "warning.h"

int main()
{
	uid_t uid = ::getuid();
	passwd *pw = account::getpwuid(uid);
	if (pw == nullptr) {
		std::fputs("Who are you?\n", stderr);
		return 1;
	}

	// A name too long for the path is never shortened into another path;
	// its mailbox counts as one that cannot be examined.
	char path[mailbox::path_size];
	long long size = mailbox::path(path, pw->pw_name) ? mailbox::size(path) : 0;

	if (!OverMailLimit(static_cast<int>(uid), mailbox::limit_size(size)))
		return 0;
	char text[warning::text_size];
	std::size_t n = warning::format(text, pw->pw_name, size, MailLimit());
	if (n < sizeof text)
		std::fwrite(text, 1, n, stdout);
	return 0;
}
