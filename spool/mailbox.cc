// SPDX-License-Identifier: ISC
// mailbox - locating and examining a user's system mailbox.
//
// Reads only the file status of the mailbox, with one stat per look; opens
// nothing. Stateless and thread-safe. Shared by every tool that judges
// mailboxes, so they all measure alike.
#include "mailbox.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstring>

namespace mailbox {

bool path(char (&buf)[path_size], const char *login)
{
	std::size_t dir = sizeof spool_dir - 1;
	std::size_t name = std::strlen(login);
	if (name >= path_size - dir) {
		buf[0] = '\0';
		return false;
	}
	std::memcpy(buf, spool_dir, dir);
	std::memcpy(buf + dir, login, name + 1);
	return true;
}

Status examine(const char *path)
{
	struct stat st = {};
	if (::stat(path, &st) != 0) {
		Status none;
		none.error = errno;
		return none;
	}
	Status s;
	s.known = true;
	s.size = static_cast<long long>(st.st_size);
	s.mtime = st.st_mtime;
	return s;
}

} // namespace mailbox
