// SPDX-License-Identifier: ISC
// mailbox - locating and examining a user's system mailbox.
//
// The plain look is one stat and opens nothing. The strict look of the
// refusal side walks the path a name at a time, each opened without
// following it (O_PATH | O_NOFOLLOW, a descriptor that only names the
// file), and judges what it opened with fstat: every symbolic link met is
// read through the descriptor it was judged by, so a link swapped in
// between is never the one followed. Allocates nothing; descriptors are
// closed before it returns. Stateless and thread-safe. Shared by every tool
// that judges mailboxes, so they all measure alike.
#include "mailbox.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

// The most symbolic links one look follows, as Linux's own lookup.
constexpr int max_links = 40;

// A descriptor (or AT_FDCWD), closed when it goes.
class Fd {
public:
	explicit Fd(int fd) : fd_(fd) {}
	Fd(const Fd &) = delete;
	Fd &operator=(const Fd &) = delete;
	~Fd() { reset(-1); }
	int get() const { return fd_; }
	int release()
	{
		int fd = fd_;
		fd_ = -1;
		return fd;
	}
	void reset(int fd)
	{
		if (fd_ >= 0)
			::close(fd_);
		fd_ = fd;
	}

private:
	int fd_;
};

// A path resolved a name at a time: what is left of it, from at, and the
// folder its relative names are opened in (at first the working folder).
struct Walk {
	char rest[PATH_MAX] = "";
	std::size_t at = 0;
	Fd dir{AT_FDCWD};
};

// Makes what is left to resolve head (n bytes, such as a link's target)
// followed by what w has left from next, and starts again at the root
// folder when head is absolute; 0 or an errno.
int prepend(Walk &w, const char *head, std::size_t n, std::size_t next)
{
	std::size_t tail = std::strlen(w.rest + next);
	if (n == 0)
		return ENOENT;
	if (n >= sizeof w.rest || tail >= sizeof w.rest - n - 1)
		return ENAMETOOLONG;
	std::memmove(w.rest + n + 1, w.rest + next, tail + 1);
	w.rest[n] = tail == 0 ? '\0' : '/';
	std::memcpy(w.rest, head, n);
	w.at = 0;
	if (head[0] == '/') {
		w.dir.reset(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
		if (w.dir.get() < 0)
			return errno;
	}
	return 0;
}

// The next name w has left, ended in place; *last tells whether it ends
// the path, *next where the rest starts. nullptr when nothing but slashes
// is left: the path names a folder.
const char *next_name(Walk &w, bool *last, std::size_t *next)
{
	while (w.rest[w.at] == '/')
		w.at++;
	if (w.rest[w.at] == '\0')
		return nullptr;
	std::size_t end = w.at;
	while (w.rest[end] != '\0' && w.rest[end] != '/')
		end++;
	*last = w.rest[end] == '\0';
	*next = *last ? end : end + 1;
	w.rest[end] = '\0';
	return w.rest + w.at;
}

// The status of the file a strict look ends at, as it counts.
Status counted(const struct stat &st, uid_t owner)
{
	if (!S_ISREG(st.st_mode) || st.st_uid != owner)
		return unknown(not_owned);
	if (st.st_nlink != 1)
		return unknown(hard_linked);
	return known(st);
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
	Walk w;
	if (int e = prepend(w, path, std::strlen(path), 0); e != 0)
		return unknown(e);
	for (int links = 0;;) {
		bool last = false;
		std::size_t next = 0;
		const char *name = next_name(w, &last, &next);
		if (name == nullptr)
			return unknown(not_owned);
		Fd fd(::openat(w.dir.get(), name, O_PATH | O_NOFOLLOW | O_CLOEXEC));
		struct stat st = {};
		if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0)
			return unknown(errno);
		if (S_ISLNK(st.st_mode)) {
			// Only root's links are followed: a user's link could choose
			// any file of the account, or another's, to be counted.
			if (st.st_uid != 0)
				return unknown(foreign_link);
			if (++links > max_links)
				return unknown(ELOOP);
			char target[PATH_MAX];
			ssize_t n = ::readlinkat(fd.get(), "", target, sizeof target);
			if (n < 0)
				return unknown(errno);
			if (int e = prepend(w, target, static_cast<std::size_t>(n), next); e != 0)
				return unknown(e);
		} else if (!last) {
			w.dir.reset(fd.release()); // not a folder: the next openat fails
			w.at = next;
		} else {
			return counted(st, owner);
		}
	}
}

} // namespace mailbox
