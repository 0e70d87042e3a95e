// SPDX-License-Identifier: ISC
// mailbox - locating and examining a user's system mailbox.
//
// Reads only the file status of the mailbox, with one stat per look (an
// lstat and a stat for the strict look at a link); opens nothing. Stateless and thread-safe. Shared by every tool that judges
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

namespace {

Status unknown(int error)
{
	Status none;
	none.error = error;
	return none;
}

Status known(const struct stat &st)
{
	Status s;
	s.known = true;
	s.size = static_cast<long long>(st.st_size);
	s.mtime = st.st_mtime;
	return s;
}

} // namespace

Status examine(const char *path)
{
	struct stat st = {};
	if (::stat(path, &st) != 0)
		return unknown(errno);
	return known(st);
}

Status examine_owned(const char *path, uid_t owner)
{
	struct stat st = {};
	if (::lstat(path, &st) != 0)
		return unknown(errno);
	if (S_ISLNK(st.st_mode)) {
		// Only root can have made it, and no user can replace it.
		if (st.st_uid != 0)
			return unknown(foreign_link);
		if (::stat(path, &st) != 0)
			return unknown(errno);
	}
	if (!S_ISREG(st.st_mode) || st.st_uid != owner)
		return unknown(not_owned);
	return known(st);
}

} // namespace mailbox
