// flatfile.h - reading the flat password file (internal header).
//
// The one reader of the format, shared by the lookup module and the database
// builder so both accept and skip exactly the same lines.
#ifndef ACCOUNT_FLATFILE_H
#define ACCOUNT_FLATFILE_H

#include <pwd.h>

#include <cstddef>

namespace account::flat {

// Room for one line with its newline and a terminator: lines of 1023
// characters or more (newline not counted) are skipped.
inline constexpr std::size_t line_size = 1024;

// A buffered reader over one descriptor. Owns the descriptor while open.
struct Reader {
	int fd = -1;
	bool eof = false;     // end of file seen; sticky until rewound
	int error = 0;        // errno of a failed read, which also ends the file
	bool skipping = false; // inside an over-long line
	std::size_t pos = 0;  // next unread byte in buf
	std::size_t len = 0;  // bytes held in buf
	char buf[1 << 16];
};

// Opens path read-only; false when it cannot be opened.
bool open(Reader &r, const char *path);
// Back to the first line; false when the seek fails.
bool rewind(Reader &r);
void close(Reader &r);

// The next line that ends with a newline and fits line_size: *n bytes from
// *start, newline included. Over-long lines and a last line without a
// newline are passed over. False at end of file (or on a read error).
bool next_line(Reader &r, const char **start, std::size_t *n);

// Splits a NUL-terminated line held in a writable buffer in place at ':' and
// '\n' into pw (name, password, uid, gid, gecos, dir, shell; other fields
// cleared). Ids convert as atoi does, saturated to 32 bits. False, with pw
// unspecified, when the line lacks the uid, gid or shell field.
bool split(char *line, passwd *pw);

} // namespace account::flat

#endif
