// flatfile - the flat password file: line reading and field splitting.
//
// Format: lines ending in '\n', seven ':'-separated fields (login, password
// field, uid, gid, gecos, home, shell). The newline is a separator too, so a
// line of six fields is accepted with an empty shell; five or fewer are
// skipped; fields past the seventh are ignored. There is no comment syntax.
//
// The Reader reads large blocks and hands out whole lines; a line is judged
// by the bytes it really holds (a NUL inside a line does not hide its
// newline). The Reader owns its descriptor; one Reader per thread.
#include "flatfile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "../common/decimal.h"
#include "strsep.h"

namespace account::flat {

bool open(Reader &r, const char *path)
{
	int fd = ::open(path, O_RDONLY | O_CLOEXEC);
	if (fd < 0)
		return false;
	r.fd = fd;
	r.eof = r.skipping = false;
	r.error = 0;
	r.pos = r.len = 0;
	return true;
}

bool rewind(Reader &r)
{
	r.eof = r.skipping = false;
	r.error = 0;
	r.pos = r.len = 0;
	return ::lseek(r.fd, 0, SEEK_SET) == 0;
}

void close(Reader &r)
{
	if (r.fd >= 0)
		::close(r.fd);
	r.fd = -1;
	r.pos = r.len = 0;
}

// Moves the unread tail to the front and appends what the file gives.
// False at end of file or on an error.
static bool fill(Reader &r)
{
	if (r.eof)
		return false;
	if (r.pos > 0) {
		std::memmove(r.buf, r.buf + r.pos, r.len - r.pos);
		r.len -= r.pos;
		r.pos = 0;
	}
	for (;;) {
		ssize_t got = ::read(r.fd, r.buf + r.len, sizeof r.buf - r.len);
		if (got > 0) {
			r.len += static_cast<std::size_t>(got);
			return true;
		}
		if (got < 0 && errno == EINTR)
			continue;
		if (got < 0)
			r.error = errno;
		r.eof = true;
		return false;
	}
}

bool next_line(Reader &r, const char **start, std::size_t *n)
{
	for (;;) {
		const char *from = r.buf + r.pos;
		const void *nl = std::memchr(from, '\n', r.len - r.pos);
		if (nl != nullptr) {
			std::size_t size = static_cast<std::size_t>(
			    static_cast<const char *>(nl) - from) + 1;
			r.pos += size;
			if (r.skipping) {
				r.skipping = false;
				continue;
			}
			if (size > line_size - 1)
				continue;
			*start = from;
			*n = size;
			return true;
		}
		// No newline in what is held: an over-long line is dropped as
		// it streams past; anything else waits for more bytes.
		if (r.len - r.pos >= line_size - 1) {
			r.skipping = true;
			r.pos = r.len;
		}
		if (!fill(r))
			return false;
	}
}

bool split(char *line, passwd *pw)
{
	static constexpr char seps[] = ":\n";
	char *cursor = line;
	pw->pw_name = strsep(&cursor, seps);
	pw->pw_passwd = strsep(&cursor, seps);
	char *field = strsep(&cursor, seps);
	if (field == nullptr)
		return false;
	pw->pw_uid = static_cast<uid_t>(decimal::leading_int(field));
	field = strsep(&cursor, seps);
	if (field == nullptr)
		return false;
	pw->pw_gid = static_cast<gid_t>(decimal::leading_int(field));
	pw->pw_gecos = strsep(&cursor, seps);
	pw->pw_dir = strsep(&cursor, seps);
	pw->pw_shell = strsep(&cursor, seps);
	return pw->pw_shell != nullptr;
}

} // namespace account::flat
