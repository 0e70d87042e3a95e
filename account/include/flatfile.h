// SPDX-License-Identifier: ISC
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

// Bytes asked of the file at a time.
inline constexpr std::size_t block_size = 1 << 17;

// A buffered reader over one descriptor. Owns the descriptor while open.
// Blocks are read at buf + line_size; the unfinished line at the end of a
// block (always shorter than line_size) is copied just in front of the next
// one, so the file is read in whole blocks and no line is moved twice.
struct Reader {
	int fd = -1;
	bool eof = false;      // end of file seen; sticky until rewound
	int error = 0;         // errno of a failed read, which also ends the file
	bool skipping = false; // inside an over-long line
	std::size_t pos = 0;   // next unread byte in buf
	std::size_t len = 0;   // end of the bytes held in buf
	char buf[line_size + block_size];
};

// Opens path read-only without blocking; false, with errno set as
// regular::open_file sets it, when it cannot be opened or is not a regular
// file, so that a FIFO or a device is never read.
bool open(Reader &r, const char *path);
// Back to the first line; false when the seek fails.
bool rewind(Reader &r);
void close(Reader &r);

// The next line that ends with a newline and fits line_size: *n bytes from
// *start, newline included. Over-long lines and a last line without a
// newline are passed over. False at end of file (or on a read error).
bool next_line(Reader &r, const char **start, std::size_t *n);

// Like next_line, but passes over every line that cannot be an accepted
// account with this user id (or, for next_name_line, exactly this login
// name), judging from the raw bytes without copying or splitting them.
// A line handed out may still fail to split or to match: the caller splits
// it and compares as usual. Lines passed over are consumed, so the reader
// stands after the line handed out, as after next_line.
bool next_uid_line(Reader &r, uid_t uid, const char **start, std::size_t *n);
bool next_name_line(Reader &r, const char *name, const char **start, std::size_t *n);

// Splits a NUL-terminated line held in a writable buffer in place at ':' and
// '\n' into pw (name, password, uid, gid, gecos, dir, shell; other fields
// cleared). Ids convert as atoi does, saturated to 32 bits. False, with pw
// unspecified, when the line lacks the uid, gid or shell field.
bool split(char *line, passwd *pw);

} // namespace account::flat

#endif
