// SPDX-License-Identifier: ISC
// dbfiles - checks that both files of an ndbm database exist before anyone
// opens it. Looks at file status only; stateless; thread-safe.
#include "dbfiles.h"

#include <sys/stat.h>

#include <climits>
#include <cstring>

namespace account {

static bool regular(const char *path, const char *suffix, struct stat *st)
{
	char name[PATH_MAX];
	std::size_t len = std::strlen(path);
	std::size_t extra = std::strlen(suffix) + 1;
	if (len + extra > sizeof name)
		return false;
	std::memcpy(name, path, len);
	std::memcpy(name + len, suffix, extra);
	return ::stat(name, st) == 0 && S_ISREG(st->st_mode);
}

bool db_files_present(const char *path)
{
	struct stat pag = {};
	struct stat dir = {};
	return regular(path, ".pag", &pag) && regular(path, ".dir", &dir) &&
	       (pag.st_dev != dir.st_dev || pag.st_ino != dir.st_ino);
}

} // namespace account
