// SPDX-License-Identifier: ISC
// lookup_once - one account lookup (or one reading of a file) per process,
// for whole-process timings and peak memory.
//
// Usage: lookup_once uid FILE UID    account::getpwuid(UID) with FILE as the
//                                    password path (its database, if any)
//        lookup_once read FILE       read() FILE whole, as the lookup's
//                                    reader does: the floor of any scan
// Exit: 0 found (or read), 1 not found (or unreadable), 64 usage.
// Prints nothing, so that only the work is measured.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <sysexits.h>

#include "getpwent.h"

static char buf[1 << 17];

int main(int argc, char **argv)
{
	if (argc == 4 && std::strcmp(argv[1], "uid") == 0) {
		account::setpwfile(argv[2]);
		auto uid = static_cast<uid_t>(std::strtoul(argv[3], nullptr, 10));
		passwd *pw = account::getpwuid(uid);
		return pw != nullptr && pw->pw_uid == uid ? 0 : 1;
	}
	if (argc == 3 && std::strcmp(argv[1], "read") == 0) {
		int fd = ::open(argv[2], O_RDONLY | O_CLOEXEC);
		if (fd < 0)
			return 1;
		while (::read(fd, buf, sizeof buf) > 0)
			;
		::close(fd);
		return 0;
	}
	return EX_USAGE;
}
