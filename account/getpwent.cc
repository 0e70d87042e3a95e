// SPDX-License-Identifier: ISC
// getpwent - account lookup over the password data at one path.
//
// Interface: getpwent.h (namespace account). Sources, both at one path
// _pw_file (default /etc/passwd): the hashed ndbm database (_pw_file.pag and
// _pw_file.dir) and the flat password file, read with flat::Reader.
//
// Keyed lookups use the database whenever it opens, and a key it lacks is
// an account that is not there (no fall back to the flat file for it);
// getpwent reads only the flat file. The database is
// opened only when both of its files exist as distinct regular files, since
// the ndbm library would otherwise create the missing one: this module never
// creates or changes a file. A database that cannot be opened is no database.
// A fetch that fails inside the ndbm library (a damaged database, not an
// absent key) closes the database, and the rest of that lookup is served by
// the flat file, as when no database opens. Login names and uids share one
// key space (a 4-byte name can spell a uid), so a record fetched is used
// only when it is the one asked for (its name, or its uid, equal); when it
// is another's, that lookup alone is served by the flat file, scanned from
// its first line, and the database stays open. Only regular files are
// read: the flat file is opened without blocking and a FIFO or a device
// counts as a file that cannot be opened.
//
// Keyed lookups (getpwuid, getpwnam) open a source, take the first matching
// account, and close the sources again unless stay-open is set (setpassent).
// getpwent enumerates the flat file and closes nothing. A walk cut short
// by a failed open or read ends as at the end of the file (getpwent returns
// null, again and again, the reader's end being sticky) but keeps the errno
// for pwent_error; whatever opens, rewinds or closes the flat file starts a
// new walk and clears it. Every successful lookup ends with the privileged
// password retrieval: for a caller with effective uid 0, the password field
// holds the decimal byte offset in the password file of the real password,
// which ends at a ':'.
//
// Diagnostics: none; a source that cannot be opened means "not found", and
// the walk's fault is only kept for pwent_error to tell.
//
// Ownership: one result record (_pw_passwd) whose strings live in line or
// pwbuf, overwritten by the next lookup. State is process-wide and unlocked.
#include "getpwent.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

extern "C" {
#include <ndbm.h>
}

#include "dbfiles.h"
#include "decimal.h"
#include "flatfile.h"
#include "pwrecord.h"
#include "regular.h"
#include "sitepaths.h"

namespace account {
namespace {

// --- private state -------------------------------------------------------
const char *_pw_file = site::passwd_file; // flat file, also the database path
DBM *_pw_db = nullptr;                    // the open hashed database, or none
char _pw_flag;                            // flag byte of the last record unpacked
flat::Reader flat_stream;                 // storage behind _pw_fp
flat::Reader *_pw_fp = nullptr;           // the open flat file, or none
int _pw_stayopen = 0;                     // keyed lookups leave sources open
int _pw_error = 0;                        // what ended getpwent's walk (pwent_error)
passwd _pw_passwd;                        // the one result record
char line[flat::line_size];               // current line, split in place
char pwbuf[50];                           // password text from getpw

int open_db()
{
	if (!db_files_present(_pw_file))
		return 0;
	_pw_db = ::dbm_open(const_cast<char *>(_pw_file), O_RDONLY, 0);
	if (_pw_db == nullptr)
		return 0;
	// The library caches copies of the buckets it reads, one per bucket
	// visited, and the cache only grows while the database is open: in a
	// process that keeps it open (setpassent(1)) and looks up scattered
	// accounts it grows to megabytes, copies of what the mapped file holds.
	// A lookup reads one bucket; a few cached ones are plenty.
	std::size_t buckets = 4;
	(void)::gdbm_setopt(_pw_db->file, GDBM_SETCACHESIZE, &buckets, sizeof buckets);
	return 1;
}

// Makes the flat file, from its first line, the source of the rest of a
// keyed lookup: rewound when it was open; none when it cannot be opened.
// True when it is ready.
bool flat_for_lookup()
{
	_pw_error = 0;
	if (_pw_fp != nullptr && !flat::rewind(*_pw_fp)) {
		flat::close(*_pw_fp);
		_pw_fp = nullptr;
	} else if (_pw_fp == nullptr && flat::open(flat_stream, _pw_file)) {
		_pw_fp = &flat_stream;
	}
	return _pw_fp != nullptr;
}

// After a fetch failed inside the database library: closes the database
// and makes the flat file the source of the rest of the lookup, as when no
// database opens.
void db_failed()
{
	::dbm_close(_pw_db);
	_pw_db = nullptr;
	(void)flat_for_lookup();
}

// Fetches the record stored under key into _pw_passwd; 0 when the key is
// absent or the record is malformed (then it counts as absent). When the
// library fails instead (dbm_error: a read error, a damaged file), 0 with
// the database closed and the flat file to be scanned (db_failed).
int fetch_pw(const void *key, std::size_t size)
{
	datum k{const_cast<char *>(static_cast<const char *>(key)), static_cast<int>(size)};
	::dbm_clearerr(_pw_db);
	datum v = ::dbm_fetch(_pw_db, k);
	if (v.dptr == nullptr && ::dbm_error(_pw_db) != 0)
		db_failed();
	if (v.dptr == nullptr || v.dsize < 0)
		return 0;
	return record::unpack(v.dptr, static_cast<std::size_t>(v.dsize), line, sizeof line,
	                      &_pw_passwd, &_pw_flag);
}

// Opens or rewinds a source; 1 when one is ready. Keyed lookups pass
// want_file 0 (the database is preferred); getpwent passes 1.
int start_pw(int want_file)
{
	if (_pw_db != nullptr && !want_file)
		return 1;
	if (_pw_fp != nullptr) {
		_pw_error = 0; // rewound: a new walk
		if (!flat::rewind(*_pw_fp)) {
			flat::close(*_pw_fp);
			_pw_fp = nullptr;
			return 0;
		}
		return 1;
	}
	if (_pw_db == nullptr && open_db() && !want_file)
		return 1;
	_pw_error = 0; // opened: a new walk
	if (!flat::open(flat_stream, _pw_file))
		return 0;
	_pw_fp = &flat_stream;
	return 1;
}

// Splits the line of n bytes at start into _pw_passwd (its strings in line);
// 0, with _pw_passwd unchanged, when the line is not an accepted account.
int take_line(const char *start, std::size_t n)
{
	std::memcpy(line, start, n);
	line[n] = '\0';
	passwd pw{};
	if (!flat::split(line, &pw))
		return 0;
	_pw_passwd = pw;
	return 1;
}

// Reads the next accepted flat-file line into _pw_passwd; 0 at end of file.
int scanpw()
{
	const char *start;
	std::size_t n;
	while (flat::next_line(*_pw_fp, &start, &n))
		if (take_line(start, n))
			return 1;
	return 0;
}

// The privileged password retrieval (see the head of this file). Any
// failure leaves pw_passwd as it was.
void getpw()
{
	if (::geteuid() != 0)
		return;
	int fd = regular::open_file(_pw_file);
	if (fd < 0)
		return;
	long long offset = 0;
	decimal::leading_ll(_pw_passwd.pw_passwd, &offset);
	if (offset >= 0 && ::lseek(fd, static_cast<off_t>(offset), SEEK_SET) == offset) {
		ssize_t got = ::read(fd, pwbuf, sizeof pwbuf - 1);
		if (got >= 0) {
			pwbuf[got] = '\0';
			char *colon = std::strchr(pwbuf, ':');
			if (colon != nullptr) {
				*colon = '\0';
				_pw_passwd.pw_passwd = pwbuf;
			}
		}
	}
	::close(fd);
}

// Ends a keyed lookup: closes unless stay-open, then the retrieval.
passwd *finish_lookup(bool found)
{
	if (!_pw_stayopen)
		endpwent();
	if (!found)
		return nullptr;
	getpw();
	return &_pw_passwd;
}

} // namespace

passwd *getpwuid(uid_t uid)
{
	if (!start_pw(0))
		return nullptr;
	bool found = false;
	bool scan = _pw_db == nullptr;
	if (_pw_db != nullptr) {
		std::uint32_t key = uid;
		found = fetch_pw(&key, sizeof key);
		if (found && _pw_passwd.pw_uid != uid) { // a login's record under its key
			found = false;
			scan = flat_for_lookup();
		}
		scan = scan || _pw_db == nullptr;
	}
	if (scan && _pw_fp != nullptr) {
		// Only lines whose raw uid field matches are copied and split.
		const char *start;
		std::size_t n;
		while (!found && flat::next_uid_line(*_pw_fp, uid, &start, &n))
			found = take_line(start, n) && _pw_passwd.pw_uid == uid;
	}
	return finish_lookup(found);
}

passwd *getpwnam(const char *name)
{
	if (!start_pw(0))
		return nullptr;
	bool found = false;
	bool scan = _pw_db == nullptr;
	if (_pw_db != nullptr) {
		found = fetch_pw(name, std::strlen(name));
		if (found && std::strcmp(_pw_passwd.pw_name, name) != 0) { // a uid's record
			found = false;
			scan = flat_for_lookup();
		}
		scan = scan || _pw_db == nullptr;
	}
	if (scan && _pw_fp != nullptr) {
		const char *start;
		std::size_t n;
		while (!found && flat::next_name_line(*_pw_fp, name, &start, &n))
			found = take_line(start, n) && std::strcmp(_pw_passwd.pw_name, name) == 0;
	}
	return finish_lookup(found);
}

passwd *getpwent()
{
	if (_pw_fp == nullptr && !start_pw(1)) {
		_pw_error = errno != 0 ? errno : EIO; // as the open left it
		return nullptr;
	}
	if (!scanpw()) {
		_pw_error = _pw_fp->error;
		return nullptr;
	}
	getpw();
	return &_pw_passwd;
}

int setpassent(int stayopen)
{
	if (!start_pw(0))
		return 0;
	_pw_stayopen = stayopen;
	return 1;
}

void setpwent()
{
	(void)setpassent(0);
}

int pwent_error()
{
	return _pw_error;
}

void endpwent()
{
	_pw_error = 0;
	if (_pw_db != nullptr) {
		::dbm_close(_pw_db);
		_pw_db = nullptr;
	}
	if (_pw_fp != nullptr) {
		flat::close(*_pw_fp);
		_pw_fp = nullptr;
	}
}

void setpwfile(const char *file)
{
	_pw_file = file;
}

} // namespace account
