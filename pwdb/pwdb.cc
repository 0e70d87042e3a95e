// SPDX-License-Identifier: ISC
// pwdb - build or check the hashed password database of a password file.
//
// Usage: pwdb [FILE]            build FILE.pag and FILE.dir from FILE
//        pwdb -c|--check [FILE] report where database and FILE disagree
// FILE defaults to /etc/passwd.
//
// Building reads FILE with the account module's own reader, so exactly the
// lines a flat-file lookup accepts are stored, and where two lines share a
// login name or a uid the first one is stored, as a flat scan finds it. Each
// account is stored twice: under its name and under its uid. Names and uids
// share one key space: a 4-byte name can spell a uid's bytes, and then the
// first stored keeps the key; the lookups check the record they get and
// read FILE for the other, and pwdb says so (report_shared_key).
//
// Files: FILE's folder may be writable by others, so nothing is created
// there by a name that could be known in advance except with O_EXCL and
// without following links. Builders of one FILE take turns on
// FILE.pwdb.lock, and a builder takes it before it opens FILE, so a build
// that read an older FILE cannot publish after one that read a newer. The
// database is written in a private folder made by mkdtemp beside FILE (mode
// 0700), given the mode of FILE less any write bit but the owner's, synced,
// and renamed into place only when complete: a reader never sees a
// half-built database, and a failure leaves the old one as it was. Each
// build removes the private folders that killed builds of FILE left behind
// (see lock_and_clean). The database's buckets grow with the file
// (bucket_size), so that a lookup costs about the same for any number of
// accounts.
//
// Diagnostics: "pwdb: FILE: reason" on standard error, also for names and
// uids that share a key; in check mode one line per disagreement or shared
// key on standard output. Exit: 0 done (and, checking, no disagreement;
// a shared key is none, since the lookups are right), 1 disagreements
// found, else a <sysexits.h> code (EX_TEMPFAIL: FILE changed during every
// build, so the database may be stale); output that cannot be written (a
// report, the help) is EX_IOERR, never success.
#include <dirent.h>
#include <fcntl.h>
#include <getopt.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <string_view>
#include <sysexits.h>

extern "C" {
#include <ndbm.h>
}

#include "dbfiles.h"
#include "flatfile.h"
#include "opterror.h"
#include "pwpack.h"
#include "pwrecord.h"
#include "regular.h"
#include "sitepaths.h"

namespace {

const char *progname = "pwdb";

// --- the private folder of a build, removed on failure or on a signal ----
// tmp_folder is FILE.pwdb-XXXXXX as mkdtemp made it ("" while there is
// none), held open. The database is built at tmp_base, FILE's own name in
// that folder, reached through the open descriptor (/proc/self/fd/N/NAME):
// where others may write beside FILE, one could rename the folder and put a
// link to another folder in its place, and a path through the folder's
// name would follow it. ndbm names the files tmp_pag and tmp_dir; shown_pag
// is the .pag file's name for messages.
char tmp_folder[4096];
char tmp_base[64 + 4096];
char tmp_pag[64 + 4096 + 8];
char tmp_dir[64 + 4096 + 8];
std::string shown_pag;

void remove_temporaries()
{
	if (tmp_folder[0] != '\0') {
		::unlink(tmp_pag);
		::unlink(tmp_dir);
		::rmdir(tmp_folder);
	}
}

void on_signal(int sig)
{
	remove_temporaries();
	::signal(sig, SIG_DFL);
	::raise(sig);
}

int fail(const std::string &file, const char *reason, int status)
{
	std::fprintf(stderr, "%s: %s: %s\n", progname, file.c_str(), reason);
	return status;
}

// The password file did not open (errno as account::flat::open left it):
// missing or forbidden is EX_NOINPUT; a folder, a FIFO or a device, which
// opens but is not read, is EX_IOERR, as a failed read of it would be.
int cannot_open(const std::string &file)
{
	int e = errno;
	return fail(file, regular::describe(e),
	            e == EISDIR || e == regular::not_regular ? EX_IOERR : EX_NOINPUT);
}

// --- one build of a FILE at a time, and the debris of killed ones -------
// A builder holds an exclusive flock(2) on FILE.pwdb.lock (made when missing,
// never removed but by the package's purge) until it exits. Holding it, it
// removes what killed builds of FILE left, only when it is this user's and
// never through a link: a folder FILE.pwdb-XXXXXX (mkdtemp's names, below;
// XXXXXX six letters or digits) with mode 0700, its BASE.pag and BASE.dir
// and then the folder if that emptied it; and the regular files
// FILE.pwdb-XXXXXX, with nothing, .pag or .dir after it, that earlier
// versions built in.

bool is_temporary(std::string_view name, std::string_view base)
{
	std::string_view prefix = ".pwdb-";
	if (name.substr(0, base.size()) != base ||
	    name.substr(base.size(), prefix.size()) != prefix)
		return false;
	name.remove_prefix(base.size() + prefix.size());
	for (std::size_t i = 0; i < 6; i++)
		if (i >= name.size() || std::isalnum(static_cast<unsigned char>(name[i])) == 0)
			return false;
	name.remove_prefix(6);
	return name.empty() || name == ".pag" || name == ".dir";
}

// Opens the lock file, making it when missing: made only with O_EXCL, and
// an existing one opened without following a link. -1 with errno.
int open_lock(const std::string &path)
{
	for (int tries = 0; tries < 3; tries++) {
		int fd =
		    ::open(path.c_str(),
		           O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
		if (fd >= 0 || errno != EEXIST)
			return fd;
		fd = ::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
		if (fd >= 0 || errno != ENOENT)
			return fd;
	}
	return -1;
}

// Removes a killed build's private folder name in the folder dfd: its
// files, then the folder, only when the folder opened without following a
// link is this user's with no rights for others.
void remove_build_folder(int dfd, const char *name, const std::string &base)
{
	int fd = ::openat(dfd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
	if (fd < 0)
		return;
	struct stat st = {};
	bool ours = ::fstat(fd, &st) == 0 && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
	if (ours) {
		(void)::unlinkat(fd, (base + ".pag").c_str(), 0);
		(void)::unlinkat(fd, (base + ".dir").c_str(), 0);
	}
	::close(fd);
	if (ours)
		(void)::unlinkat(dfd, name, AT_REMOVEDIR);
}

// Waits for the lock, then cleans up; false, with errno, when the lock file
// cannot be made or locked. The descriptor stays open until pwdb exits.
bool lock_and_clean(const std::string &file, const std::string &folder)
{
	int fd = open_lock(file + ".pwdb.lock");
	if (fd < 0)
		return false;
	struct stat st = {};
	int e = ::fstat(fd, &st) != 0 ? errno : S_ISREG(st.st_mode) ? 0 : regular::not_regular;
	while (e == 0 && ::flock(fd, LOCK_EX) != 0)
		e = errno == EINTR ? 0 : errno;
	if (e != 0) {
		::close(fd);
		errno = e;
		return false;
	}
	std::string base = file.substr(file.find_last_of('/') + 1);
	if (DIR *d = ::opendir(folder.c_str())) {
		while (const dirent *entry = ::readdir(d)) {
			if (!is_temporary(entry->d_name, base) ||
			    ::fstatat(::dirfd(d), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
			    st.st_uid != ::geteuid())
				continue;
			if (S_ISDIR(st.st_mode))
				remove_build_folder(::dirfd(d), entry->d_name, base);
			else if (S_ISREG(st.st_mode))
				(void)::unlinkat(::dirfd(d), entry->d_name, 0);
		}
		::closedir(d);
	}
	return true;
}

void usage(FILE *to)
{
	std::fprintf(to, "usage: pwdb [FILE]\n"
	                 "       pwdb -c | --check [FILE]\n"
	                 "       pwdb --help | --version\n"
	                 "\n"
	                 "Builds the hashed password database FILE.pag and FILE.dir from the\n"
	                 "password file FILE (default /etc/passwd): every line the account\n"
	                 "lookup accepts, stored under its login name and under its uid, the\n"
	                 "first line winning where two share either. The new database is\n"
	                 "written in a private folder beside FILE and renamed into place\n"
	                 "when complete.\n"
	                 "\n"
	                 "  -c, --check  report every account where the database and FILE\n"
	                 "               disagree, and exit 1 when any does; report a login\n"
	                 "               and a uid that share a key\n"
	                 "  --help       show this help\n"
	                 "  --version    show the version\n"
	                 "\n"
	                 "Exit: 0 done, 1 disagreements found, 64 usage, 66 FILE or its\n"
	                 "database cannot be read, 73 the database cannot be created,\n"
	                 "74 an input/output error, 75 FILE kept changing while it was\n"
	                 "read (try again).\n");
}

// Flushes standard output: EX_IOERR, with a message, when anything written
// there was lost; status otherwise.
int finish(int status)
{
	if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
		int err = errno;
		std::fprintf(stderr, "%s: standard output: %s\n", progname,
		             std::strerror(err != 0 ? err : EIO));
		return EX_IOERR;
	}
	return status;
}

enum { opt_help = 256, opt_version };

// The message for the option getopt_long just refused (c), worded as in
// every program (opterror.h).
void bad_option(int c, const char *const argv[], const option *longs)
{
	std::fprintf(stderr, "%s: %s\n", progname, opterror::describe(c, argv, longs).c_str());
}

datum as_datum(std::string_view s)
{
	return datum{const_cast<char *>(s.data()), static_cast<int>(s.size())};
}

// Calls f(passwd&) for every accepted line of file; false on a read error.
template <typename F> bool each_account(account::flat::Reader &r, F f)
{
	char line[account::flat::line_size];
	const char *start;
	std::size_t n;
	while (account::flat::next_line(r, &start, &n)) {
		std::memcpy(line, start, n);
		line[n] = '\0';
		passwd pw{};
		if (account::flat::split(line, &pw))
			f(pw);
	}
	return r.error == 0;
}

std::string folder_of(const std::string &file)
{
	std::size_t slash = file.find_last_of('/');
	return slash == std::string::npos ? "." : slash == 0 ? "/" : file.substr(0, slash);
}

// Flushes a file, or with O_DIRECTORY a folder's entries, to the disk.
bool sync_path(const char *path, int flags)
{
	int fd = ::open(path, O_RDONLY | O_CLOEXEC | flags);
	if (fd < 0)
		return false;
	bool ok = ::fsync(fd) == 0;
	::close(fd);
	return ok;
}

// The bucket size for a password file of this many bytes. Every open of the
// database reads its whole directory, which grows with the number of buckets:
// with the default 4 KiB buckets it is 256 KiB for a million accounts, and
// the open costs more than the lookup. Buckets that grow with the square
// root of the number of accounts keep the directory about one bucket in size
// (it holds about 1100 bytes per account divided by the bucket size), so a
// lookup costs about the same at every size. They stop at 32 KiB: each open
// allocates the directory and a bucket, and while the two stay under the C
// library's 128 KiB trim threshold a process making many lookups reuses that
// memory instead of faulting in fresh pages every time. Small files keep
// 4 KiB buckets.
int bucket_size(off_t file_bytes)
{
	long long accounts = file_bytes / 48 + 1; // lines are rarely shorter
	int size = 4096;
	while (size < 32768 && static_cast<long long>(size) * size < 1100 * accounts)
		size *= 2;
	return size;
}

// Checks that file can be read, before anything is made beside it (the
// lock), so that a wrong name leaves nothing behind; 0, or the exit status.
int readable(const std::string &file)
{
	static account::flat::Reader reader;
	if (!account::flat::open(reader, file.c_str()))
		return cannot_open(file);
	account::flat::close(reader);
	return EX_OK;
}

// Makes the private folder of this build beside file, opens it, and sets
// the names in it (tmp_*, shown_pag); the reason, or nullptr. The
// descriptor stays open until pwdb exits.
const char *make_build_folder(const std::string &file)
{
	std::string folder = file + ".pwdb-XXXXXX";
	std::string base = file.substr(file.find_last_of('/') + 1);
	if (folder.size() >= sizeof tmp_folder)
		return std::strerror(ENAMETOOLONG);
	std::memcpy(tmp_folder, folder.c_str(), folder.size() + 1);
	if (::mkdtemp(tmp_folder) == nullptr) {
		tmp_folder[0] = '\0';
		return std::strerror(errno);
	}
	int fd = ::open(tmp_folder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
	struct stat st = {};
	if (fd < 0 || ::fstat(fd, &st) != 0)
		return std::strerror(errno);
	if (st.st_uid != ::geteuid() || (st.st_mode & 077) != 0)
		return "replaced by another while it was made";
	char through[64];
	std::snprintf(through, sizeof through, "/proc/self/fd/%d", fd);
	struct stat via = {};
	if (::stat(through, &via) != 0 || via.st_dev != st.st_dev || via.st_ino != st.st_ino)
		return "cannot be reached through /proc/self/fd (is /proc mounted?)";
	std::snprintf(tmp_base, sizeof tmp_base, "%s/%s", through, base.c_str());
	std::snprintf(tmp_pag, sizeof tmp_pag, "%s.pag", tmp_base);
	std::snprintf(tmp_dir, sizeof tmp_dir, "%s.dir", tmp_base);
	shown_pag = std::string(tmp_folder) + "/" + base + ".pag";
	return nullptr;
}

// Gives a finished file in the private folder its mode, by descriptor, and
// syncs it; false, with errno, on failure.
bool seal(const char *path, mode_t mode)
{
	int fd = ::open(path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
	if (fd < 0)
		return false;
	bool ok = ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
	int e = errno;
	::close(fd);
	errno = e;
	return ok;
}

// Unpacks the record stored under key into got (strings in buf); false
// when there is none or it is malformed.
bool fetch_record(DBM *db, std::string_view key, char *buf, std::size_t size, passwd *got)
{
	datum v = ::dbm_fetch(db, as_datum(key));
	char flag = 0;
	return v.dptr != nullptr && v.dsize >= 0 &&
	       account::record::unpack(v.dptr, static_cast<std::size_t>(v.dsize), buf, size, got,
	                               &flag);
}

// The words for a login and a uid that share one key; the lookups of the
// one not stored under it (by_name: the login's) read the password file.
std::string shared_key(const char *login, uid_t uid, const char *uid_login, bool by_name)
{
	return "login \"" + std::string(login) + "\" and uid " + std::to_string(uid) + " (\"" +
	       uid_login + "\") share one database key; lookups of the " +
	       (by_name ? "login" : "uid") + " read the file";
}

// After storing pw under key was refused because the key is taken: when
// the record there is not pw's own kind (another line of the same name
// when by_name, of the same uid otherwise), a name and a uid share the key,
// and standard error says so.
void report_shared_key(DBM *db, std::string_view key, const passwd &pw, bool by_name,
                       const std::string &file)
{
	char buf[account::flat::line_size];
	passwd got{};
	if (!fetch_record(db, key, buf, sizeof buf, &got))
		return;
	std::string what;
	if (by_name && std::strcmp(got.pw_name, pw.pw_name) != 0)
		what = shared_key(pw.pw_name, got.pw_uid, got.pw_name, true);
	else if (!by_name && got.pw_uid != pw.pw_uid)
		what = shared_key(got.pw_name, pw.pw_uid, pw.pw_name, false);
	if (!what.empty())
		std::fprintf(stderr, "%s: %s: %s\n", progname, file.c_str(), what.c_str());
}

// Stores value under key unless the key is taken; false on a failure.
bool store(DBM *db, std::string_view key, const std::string &value, const passwd &pw, bool by_name,
           const std::string &file)
{
	int r = ::dbm_store(db, as_datum(key), as_datum(value), DBM_INSERT);
	if (r == 1)
		report_shared_key(db, key, pw, by_name, file);
	return r >= 0;
}

// Whether the file at path is still the one st describes: the same file,
// not written since.
bool unchanged(const std::string &path, const struct stat &st)
{
	struct stat now = {};
	return ::stat(path.c_str(), &now) == 0 && now.st_dev == st.st_dev &&
	       now.st_ino == st.st_ino && now.st_size == st.st_size &&
	       now.st_mtim.tv_sec == st.st_mtim.tv_sec &&
	       now.st_mtim.tv_nsec == st.st_mtim.tv_nsec &&
	       now.st_ctim.tv_sec == st.st_ctim.tv_sec && now.st_ctim.tv_nsec == st.st_ctim.tv_nsec;
}

// One build from FILE as it is now, the lock held; *changed tells whether
// FILE was replaced or written while it was read.
int build_once(const std::string &file, bool *changed)
{
	// Opened only now, holding the lock: what is read is what is published
	// unless a later builder, which reads a later file, replaces it.
	static account::flat::Reader reader;
	if (!account::flat::open(reader, file.c_str()))
		return cannot_open(file);
	struct stat st = {};
	if (::fstat(reader.fd, &st) != 0)
		return fail(file, std::strerror(errno), EX_IOERR);

	for (int sig : {SIGHUP, SIGINT, SIGTERM})
		::signal(sig, on_signal);
	if (const char *reason = make_build_folder(file)) {
		remove_temporaries();
		return fail(tmp_folder[0] != '\0' ? tmp_folder : file + ".pwdb-XXXXXX", reason,
		            EX_CANTCREAT);
	}

	// Readable as FILE is, writable by its owner alone: the lookups trust
	// what the database holds.
	mode_t mode = st.st_mode & 0644;
	// The .pag file is made first with buckets sized for the file (the
	// ndbm interface cannot choose them); ndbm then adds the .dir file.
	GDBM_FILE pag = ::gdbm_open(tmp_pag, bucket_size(st.st_size), GDBM_NEWDB, 0600, nullptr);
	if (pag == nullptr) {
		int e = errno != 0 ? errno : EIO;
		remove_temporaries();
		return fail(shown_pag, std::strerror(e), EX_CANTCREAT);
	}
	::gdbm_close(pag);
	DBM *db = ::dbm_open(tmp_base, O_RDWR | O_CREAT, 0600);
	if (db == nullptr) {
		int e = errno;
		remove_temporaries();
		return fail(shown_pag, std::strerror(e), EX_CANTCREAT);
	}
	bool store_failed = false;
	bool read_ok = each_account(reader, [&](const passwd &pw) {
		std::string value = account::record::pack(pw, 0);
		if (!store(db, pw.pw_name, value, pw, true, file) ||
		    !store(db, account::record::uid_key(pw.pw_uid), value, pw, false, file))
			store_failed = true;
	});
	int read_errno = reader.error;
	account::flat::close(reader);
	::dbm_close(db);

	int status = EX_OK;
	if (!read_ok)
		status = fail(file, std::strerror(read_errno), EX_IOERR);
	else if (store_failed)
		status = fail(shown_pag, "cannot store a record", EX_IOERR);
	else if (!seal(tmp_pag, mode) || !seal(tmp_dir, mode))
		status = fail(shown_pag, std::strerror(errno), EX_IOERR);
	else if (::rename(tmp_dir, (file + ".dir").c_str()) != 0)
		status = fail(file + ".dir", std::strerror(errno), EX_CANTCREAT);
	else if (::rename(tmp_pag, (file + ".pag").c_str()) != 0)
		status = fail(file + ".pag", std::strerror(errno), EX_CANTCREAT);
	else
		(void)sync_path(folder_of(file).c_str(), O_DIRECTORY);
	remove_temporaries();
	*changed = status == EX_OK && !unchanged(file, st);
	return status;
}

// Builds FILE's database. A FILE changed during a build is read again, a
// few times at most: a tool that writes it twice in a row (adduser) may
// change it while the build that its first write started still runs, and
// the watch that started it would not start another for that change. When
// it changed during the last build too, the database may lack what changed:
// EX_TEMPFAIL, so that the caller (pwdb.service) tries again later.
int build(const std::string &file)
{
	if (int status = readable(file); status != EX_OK)
		return status;
	if (!lock_and_clean(file, folder_of(file)))
		return fail(file + ".pwdb.lock", regular::describe(errno), EX_CANTCREAT);
	constexpr int builds = 5;
	int status = EX_OK;
	bool changed = true;
	for (int tries = 0; changed && tries < builds && status == EX_OK; tries++)
		status = build_once(file, &changed);
	if (status == EX_OK && changed) {
		std::string why = "changed during each of " + std::to_string(builds) +
		                  " builds; the database may lack the latest changes (try again)";
		return fail(file, why.c_str(), EX_TEMPFAIL);
	}
	return status;
}

// One line of the check report.
void differ(const std::string &file, const std::string &what, const char *how)
{
	std::printf("%s: %s: %s%s%s\n", progname, file.c_str(), what.c_str(), *how ? " " : "", how);
}

// Whether the record under key is pw's.
bool agrees(DBM *db, std::string_view key, const passwd &pw)
{
	char buf[account::flat::line_size];
	passwd got{};
	if (!fetch_record(db, key, buf, sizeof buf, &got))
		return false;
	return std::strcmp(got.pw_name, pw.pw_name) == 0 &&
	       std::strcmp(got.pw_passwd, pw.pw_passwd) == 0 && got.pw_uid == pw.pw_uid &&
	       got.pw_gid == pw.pw_gid && std::strcmp(got.pw_gecos, pw.pw_gecos) == 0 &&
	       std::strcmp(got.pw_dir, pw.pw_dir) == 0 &&
	       std::strcmp(got.pw_shell, pw.pw_shell) == 0;
}

// Whether the record under the login name key is the record of the uid
// whose key the name spells (a shared key; *got holds it): then the lookup
// of the name finds another account's record and reads the file instead.
bool holds_uid_record(DBM *db, std::string_view key, passwd *got)
{
	static char buf[account::flat::line_size];
	return fetch_record(db, key, buf, sizeof buf, got) && got->pw_name != key &&
	       account::record::uid_key(got->pw_uid) == key;
}

// Whether the record under uid's key is the record of the login the key
// spells (a shared key; *got holds it).
bool holds_name_record(DBM *db, std::string_view key, uid_t uid, passwd *got)
{
	static char buf[account::flat::line_size];
	return fetch_record(db, key, buf, sizeof buf, got) && got->pw_uid != uid &&
	       got->pw_name == key;
}

// Checks the record under pw's login name: 1, with a line of the report,
// when it is not pw's; 0 when it is, or when it is the record of the uid
// whose key the name spells (a line saying so).
int check_name(DBM *db, const passwd &pw, const std::string &file)
{
	if (agrees(db, pw.pw_name, pw))
		return 0;
	passwd got{};
	if (holds_uid_record(db, pw.pw_name, &got)) {
		differ(file, shared_key(pw.pw_name, got.pw_uid, got.pw_name, true), "");
		return 0;
	}
	differ(file, "login \"" + std::string(pw.pw_name) + "\"",
	       "differs from the database or is missing there");
	return 1;
}

// The same for the record under pw's uid key.
int check_uid(DBM *db, std::string_view key, const passwd &pw, const std::string &file)
{
	if (agrees(db, key, pw))
		return 0;
	passwd got{};
	if (holds_name_record(db, key, pw.pw_uid, &got)) {
		differ(file, shared_key(got.pw_name, pw.pw_uid, pw.pw_name, false), "");
		return 0;
	}
	differ(file, "uid " + std::to_string(pw.pw_uid) + " (\"" + pw.pw_name + "\")",
	       "differs from the database or is missing there");
	return 1;
}

int check(const std::string &file)
{
	static account::flat::Reader reader;
	if (!account::flat::open(reader, file.c_str()))
		return cannot_open(file);
	if (!account::db_files_present(file.c_str()))
		return fail(file, "no database (FILE.pag and FILE.dir) beside it", EX_NOINPUT);
	DBM *db = ::dbm_open(const_cast<char *>(file.c_str()), O_RDONLY, 0);
	if (db == nullptr)
		return fail(file + ".pag", "cannot open the database", EX_NOINPUT);

	std::set<std::string> names, uids;
	int differences = 0;
	bool read_ok = each_account(reader, [&](const passwd &pw) {
		std::string uid = account::record::uid_key(pw.pw_uid);
		if (names.insert(pw.pw_name).second)
			differences += check_name(db, pw, file);
		if (uids.insert(uid).second)
			differences += check_uid(db, uid, pw, file);
	});
	int read_errno = reader.error;
	account::flat::close(reader);
	for (datum k = ::dbm_firstkey(db); k.dptr != nullptr; k = ::dbm_nextkey(db)) {
		std::string key(k.dptr, static_cast<std::size_t>(k.dsize));
		if (names.count(key) == 0 && (key.size() != 4 || uids.count(key) == 0)) {
			differ(file, "database key \"" + key + "\"", "has no account in the file");
			differences++;
		}
	}
	::dbm_close(db);
	if (!read_ok)
		return fail(file, std::strerror(read_errno), EX_IOERR);
	return differences == 0 ? EX_OK : 1;
}

} // namespace

int main(int argc, char **argv)
{
	static const option longs[] = {
	    {"check", no_argument, nullptr, 'c'},
	    {"help", no_argument, nullptr, opt_help},
	    {"version", no_argument, nullptr, opt_version},
	    {nullptr, 0, nullptr, 0},
	};
	bool checking = false;
	opterr = 0; // the messages are worded here
	for (int c; (c = getopt_long(argc, argv, ":c", longs, nullptr)) != -1;) {
		switch (c) {
		case 'c':
			checking = true;
			break;
		case opt_help:
			usage(stdout);
			return finish(EX_OK);
		case opt_version:
			std::printf("pwdb %s\n", PWDB_VERSION);
			return finish(EX_OK);
		default:
			bad_option(c, argv, longs);
			usage(stderr);
			return EX_USAGE;
		}
	}
	if (argc - optind > 1) {
		usage(stderr);
		return EX_USAGE;
	}
	std::string path = optind < argc ? argv[optind] : site::passwd_file;
	if (path.empty()) {
		std::fprintf(stderr, "%s: empty file name\n", progname);
		return EX_USAGE;
	}
	return finish(checking ? check(path) : build(path));
}
