// SPDX-License-Identifier: ISC
// regular.h - opening a file that must be a regular file, without waiting.
//
// The system reads only regular files. A FIFO or a device put in the place
// of the password file or the limit file (an administrator's mistake, a bind
// mount gone wrong) must not make a login wait for ever or read without end:
// the file is opened with O_NONBLOCK, so that a FIFO opens at once even with
// no writer, and anything fstat does not call a regular file is closed again
// and counts as a file that cannot be opened.
//
// Header-only, internal linkage: the C-linkable limit library includes it and
// must export nothing but its three functions. Stateless, thread-safe.
#ifndef COMMON_REGULAR_H
#define COMMON_REGULAR_H

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace regular {

// The errno open_file leaves for a path that opened but is not a regular
// file nor a folder: a FIFO, a device, a socket (Linux has no EFTYPE).
static constexpr int not_regular = EINVAL;

// Opens path read-only without blocking and keeps it only when it is a
// regular file. The descriptor (close-on-exec, O_NONBLOCK left set, which
// changes nothing for a regular file), or -1 with errno: open's own, EISDIR
// for a folder, not_regular for any other kind of file.
static inline int open_file(const char *path)
{
	int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
	if (fd < 0)
		return -1;
	struct stat st = {};
	int err = ::fstat(fd, &st) != 0 ? errno
	          : S_ISREG(st.st_mode) ? 0
	          : S_ISDIR(st.st_mode) ? EISDIR
	                                : not_regular;
	if (err == 0)
		return fd;
	::close(fd);
	errno = err;
	return -1;
}

// The text for an errno that open_file left.
static inline const char *describe(int err)
{
	return err == not_regular ? "not a regular file" : std::strerror(err);
}

} // namespace regular

#endif
