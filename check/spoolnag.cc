// SPDX-License-Identifier: ISC
// spoolnag - warn the caller whose system mailbox is over the site's limit.
//
// Usage: spoolnag (arguments are ignored). Finds the caller's account by real
// uid with the system's own lookup and asks the verdict about its mailbox.
// Over the limit: a two-line warning on standard output. Otherwise silent.
// Exit 0 when the check ran, 1 with "Who are you?" on standard error when
// the caller has no account. Reads files only.
#include <unistd.h>

#include <cstdio>

#include "getpwent.h"
#include "verdict.h"
#include "warning.h"

int main()
{
	passwd *pw = account::getpwuid(::getuid());
	if (pw == nullptr) {
		std::fputs("Who are you?\n", stderr);
		return 1;
	}
	verdict::Verdict v = verdict::judge(*pw);
	if (!v.over)
		return 0;
	char text[warning::text_size];
	std::size_t n = warning::format(text, pw->pw_name, v.size, v.limit.max_size);
	if (n < sizeof text)
		std::fwrite(text, 1, n, stdout);
	return 0;
}
