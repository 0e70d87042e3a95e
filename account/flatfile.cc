// SPDX-License-Identifier: ISC
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
//
// Keyed scans never copy or split a line that cannot match. A uid other than
// 0 and the two saturated values can only come from a line holding its
// digits, so the block is searched for them a vector at a time and only the
// lines holding them have their uid field read; a name can only start a line
// followed by ':', so the block is searched for a newline, the name and ':'.
// The caller still splits and compares the lines handed out, so the rules of
// the format are applied in one place only.
#include "flatfile.h"

#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string_view>

#include "bytesearch.h"
#include "decimal.h"
#include "regular.h"
#include "strsep.h"

namespace account::flat {

bool open(Reader &r, const char *path)
{
	int fd = regular::open_file(path);
	if (fd < 0)
		return false;
	r.fd = fd;
	r.eof = r.skipping = false;
	r.error = 0;
	r.pos = r.len = line_size;
	return true;
}

bool rewind(Reader &r)
{
	r.eof = r.skipping = false;
	r.error = 0;
	r.pos = r.len = line_size;
	return ::lseek(r.fd, 0, SEEK_SET) == 0;
}

void close(Reader &r)
{
	if (r.fd >= 0)
		::close(r.fd);
	r.fd = -1;
	r.pos = r.len = line_size;
}

// Puts the unread tail (shorter than line_size) just in front of the block
// area and reads the next block behind it. False at end of file or on an
// error.
static bool fill(Reader &r)
{
	if (r.eof)
		return false;
	std::size_t tail = r.len - r.pos;
	std::memmove(r.buf + line_size - tail, r.buf + r.pos, tail);
	r.pos = line_size - tail;
	r.len = line_size;
	for (;;) {
		ssize_t got = ::read(r.fd, r.buf + line_size, block_size);
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

// The next line that ends with a newline and fits line_size, and for which
// take(start, size) holds. Lines for which it does not are consumed.
// seek(p, end) narrows the search: it returns a place in [p, end] such that
// no line ending before it can be taken (p itself to look at every line).
// One loop over blocks, lines and the narrowed search keeps the reader's
// state changes in one place; splitting it would spread them.
template <typename Seek, typename Take>
static bool scan( // NOLINT(readability-function-cognitive-complexity)
    Reader &r, Seek seek, Take take, const char **start, std::size_t *n)
{
	for (;;) {
		const char *p = r.buf + r.pos;
		const char *end = r.buf + r.len;
		for (;;) {
			const char *hit = seek(p, end);
			if (hit != p) {
				// Pass over the lines before the one holding hit.
				const void *nl =
				    ::memrchr(p, '\n', static_cast<std::size_t>(hit - p));
				if (nl != nullptr) {
					p = static_cast<const char *>(nl) + 1;
					r.skipping = false;
				}
			}
			if (hit == end)
				break;
			const char *nl = static_cast<const char *>(
			    std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
			if (nl == nullptr)
				break;
			const char *from = p;
			std::size_t size = static_cast<std::size_t>(nl - from) + 1;
			p = nl + 1;
			if (r.skipping) {
				r.skipping = false;
				continue;
			}
			if (size > line_size - 1 || !take(from, size))
				continue;
			r.pos = static_cast<std::size_t>(p - r.buf);
			*start = from;
			*n = size;
			return true;
		}
		r.pos = static_cast<std::size_t>(p - r.buf);
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

static const char *every_line(const char *p, const char *)
{
	return p;
}

bool next_line(Reader &r, const char **start, std::size_t *n)
{
	return scan(
	    r, every_line, [](const char *, std::size_t) { return true; }, start, n);
}

bool next_uid_line(Reader &r, uid_t uid, const char **start, std::size_t *n)
{
	auto take = [uid](const char *line, std::size_t size) {
		// An accepted line has ':' after its name and after its
		// password field; the user id follows.
		const char *end = line + size - 1;
		const char *p = line;
		while (p < end && *p != ':')
			p++;
		for (p++; p < end && *p != ':'; p++)
			;
		if (p >= end)
			return false;
		// The id as split converts it: the field ends at the next ':'
		// or at the line's end, neither of which can continue a number.
		std::string_view text(p + 1, static_cast<std::size_t>(end - p - 1));
		return static_cast<uid_t>(decimal::leading_int(text)) == uid;
	};
	// Any text that converts to a value other than 0 and the two
	// saturated ones holds the value's digits without leading zeros; only
	// lines that hold them are examined.
	int value = static_cast<int>(uid);
	if (value == 0 || value == INT_MAX || value == INT_MIN)
		return scan(r, every_line, take, start, n);
	char digits[16];
	char *d = digits + sizeof digits;
	for (long long v = value < 0 ? -static_cast<long long>(value) : value; v != 0; v /= 10)
		*--d = static_cast<char>('0' + v % 10);
	std::size_t m = static_cast<std::size_t>(digits + sizeof digits - d);
	auto seek = [d, m](const char *p, const char *end) {
		return bytesearch::find(p, end, d, m);
	};
	return scan(r, seek, take, start, n);
}

bool next_name_line(Reader &r, const char *name, const char **start, std::size_t *n)
{
	std::size_t len = std::strlen(name);
	auto take = [name, len](const char *line, std::size_t size) {
		return size > len + 1 && std::memcmp(line, name, len) == 0 && line[len] == ':';
	};
	// An accepted line that fits starts with the name and a ':': look for
	// a newline followed by them (or for them at the very start).
	char needle[line_size + 1];
	if (len + 2 > sizeof needle) {
		auto nothing = [](const char *, const char *end) { return end; };
		return scan(r, nothing, take, start, n);
	}
	needle[0] = '\n';
	// A byte pattern searched for with its length, not a C string.
	std::memcpy(needle + 1, name, len); // NOLINT(bugprone-not-null-terminated-result)
	needle[len + 1] = ':';
	auto seek = [&](const char *p, const char *end) {
		if (static_cast<std::size_t>(end - p) <= len || take(p, len + 2))
			return p;
		const char *hit = bytesearch::find(p, end, needle, len + 2);
		return hit == end ? end : hit + 1;
	};
	return scan(r, seek, take, start, n);
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
