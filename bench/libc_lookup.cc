// SPDX-License-Identifier: ISC
// libc_lookup - one account lookup by the C library's own getpwuid, for
// whole-process timings and peak memory next to the system's lookup.
//
// Usage: libc_lookup UID   looks UID up through the C library's name
//                          service (its "files" source reads /etc/passwd)
// Run it in a private mount namespace with the file to measure bound over
// /etc/passwd. Exit: 0 found, 1 not found, 64 usage. Prints nothing.
#include <pwd.h>

#include <cstdlib>
#include <sysexits.h>

int main(int argc, char **argv)
{
	if (argc != 2)
		return EX_USAGE;
	auto uid = static_cast<uid_t>(std::strtoul(argv[1], nullptr, 10));
	passwd *pw = ::getpwuid(uid);
	return pw != nullptr && pw->pw_uid == uid ? 0 : 1;
}
