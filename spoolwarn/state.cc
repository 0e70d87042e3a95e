// SPDX-License-Identifier: ISC
// state - the state file of spoolwarn and its journal, read, appended to
// and replaced under a lock (state.h).
//
// Files: the state folder (/var/lib/spoolwarn), and in it lock, state,
// journal, their .damaged names and the temporaries .state.XXXXXX.
// Temporary names come from getrandom(2); every file made is created with
// O_EXCL | O_NOFOLLOW and every file read is opened with O_NOFOLLOW, so
// nothing planted in the folder is ever followed or overwritten.
#include "state.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>

namespace state {
namespace {

constexpr std::string_view header = "# spoolwarn state 1\n";
constexpr std::string_view journal_header = "# spoolwarn journal 1\n";
constexpr std::string_view temp_prefix = ".state.";

// Gives a file the folder's owner and group when run as root (so that the
// folder's owner can read and replace it); 0 or errno.
int adopt(const Store &s, int fd)
{
	if (::geteuid() != 0)
		return 0;
	struct stat st = {};
	if (::fstat(fd, &st) != 0)
		return errno;
	if (st.st_uid == s.owner && st.st_gid == s.group)
		return 0;
	return ::fchown(fd, s.owner, s.group) != 0 ? errno : 0;
}

// One comma-separated list of thresholds, each 1 to 100, rising.
bool parse_marks(std::string_view s, std::vector<int> *out)
{
	out->clear();
	while (true) {
		int t = 0;
		auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), t);
		if (ec != std::errc() || end == s.data() || t < 1 || t > 100 ||
		    (!out->empty() && t <= out->back()))
			return false;
		out->push_back(t);
		s.remove_prefix(static_cast<std::size_t>(end - s.data()));
		if (s.empty())
			return true;
		if (s.front() != ',')
			return false;
		s.remove_prefix(1);
	}
}

// Writes all of text to fd; 0 or errno.
int write_all(int fd, std::string_view text)
{
	while (!text.empty()) {
		ssize_t n = ::write(fd, text.data(), text.size());
		if (n < 0) {
			if (errno == EINTR)
				continue;
			return errno;
		}
		text.remove_prefix(static_cast<std::size_t>(n));
	}
	return 0;
}

// Removes the temporaries that killed runs left behind.
void remove_temporaries(int dir)
{
	int fd = ::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	if (fd < 0)
		return;
	DIR *d = ::fdopendir(fd);
	if (d == nullptr) {
		::close(fd);
		return;
	}
	while (dirent *e = ::readdir(d)) {
		std::string_view name = e->d_name;
		if (name.starts_with(temp_prefix) && name.size() == temp_prefix.size() + 6)
			::unlinkat(dir, e->d_name, 0);
	}
	::closedir(d);
}

// A new temporary file in the folder, its name in name; -1 with errno.
int create_temporary(int dir, char (&name)[16])
{
	static const char letters[] =
	    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
	for (int attempt = 0; attempt < 100; ++attempt) {
		unsigned char random[6];
		if (::getrandom(random, sizeof random, 0) != sizeof random)
			return -1;
		std::memcpy(name, temp_prefix.data(), temp_prefix.size());
		for (std::size_t i = 0; i < sizeof random; ++i)
			name[temp_prefix.size() + i] = letters[random[i] % (sizeof letters - 1)];
		name[temp_prefix.size() + sizeof random] = '\0';
		int fd =
		    ::openat(dir, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
		if (fd >= 0 || errno != EEXIST)
			return fd;
	}
	errno = EEXIST;
	return -1;
}

// Reads the whole of the regular file fd into *text; 0 or errno.
int read_all(int fd, std::string *text)
{
	char buf[65536];
	while (true) {
		ssize_t n = ::read(fd, buf, sizeof buf);
		if (n < 0) {
			if (errno == EINTR)
				continue;
			return errno;
		}
		if (n == 0)
			return 0;
		text->append(buf, static_cast<std::size_t>(n));
	}
}

enum class Found { absent, read, damaged, error };

// Reads the file name in the folder into *text. Found::damaged: not a
// regular file (*why says what it is); Found::error: errno says why. Run
// as root on a writable store, a file found is given the folder's owner.
Found read_named(Store &s, const char *name, std::string *text, std::string *why)
{
	int fd = ::openat(s.dir, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
	if (fd < 0) {
		if (errno == ENOENT)
			return Found::absent;
		if (errno != ELOOP && errno != ENXIO)
			return Found::error;
		*why = errno == ELOOP ? "a symbolic link" : "not a regular file";
		return Found::damaged;
	}
	struct stat st = {};
	int err = ::fstat(fd, &st) != 0 ? errno : 0;
	bool regular = err == 0 && S_ISREG(st.st_mode);
	if (err == 0 && !regular)
		*why = S_ISDIR(st.st_mode) ? "a folder" : "not a regular file";
	if (regular)
		err = read_all(fd, text);
	if (regular && err == 0 && s.write)
		err = adopt(s, fd);
	::close(fd);
	errno = err;
	if (err != 0)
		return Found::error;
	return regular ? Found::read : Found::damaged;
}

} // namespace

Store::~Store()
{
	if (journal >= 0)
		::close(journal);
	if (lock >= 0)
		::close(lock);
	if (dir >= 0)
		::close(dir);
}

namespace {

// One line of the state or the journal: "T1,T2,... LOGIN\n", or "- LOGIN\n"
// for no marks (the journal's taking back).
std::string line_of(std::string_view login, const std::vector<int> &marks)
{
	std::string line;
	for (std::size_t i = 0; i < marks.size(); ++i) {
		if (i > 0)
			line += ',';
		line += std::to_string(marks[i]);
	}
	if (marks.empty())
		line += '-';
	line += ' ';
	line += login;
	line += '\n';
	return line;
}

// Splits a line (without its newline) into its marks and its login; false
// when it has no blank or no login.
bool split_line(std::string_view line, std::string_view *marks, std::string_view *login)
{
	std::size_t blank = line.find(' ');
	if (blank == std::string_view::npos || blank + 1 == line.size())
		return false;
	*marks = line.substr(0, blank);
	*login = line.substr(blank + 1);
	return true;
}

} // namespace

std::string format(const Marks &marks)
{
	std::string text(header);
	for (const auto &[login, list] : marks)
		if (!list.empty())
			text += line_of(login, list);
	return text;
}

bool parse(std::string_view text, Marks *out)
{
	out->clear();
	if (!text.starts_with(header))
		return false;
	text.remove_prefix(header.size());
	while (!text.empty()) {
		std::size_t nl = text.find('\n');
		if (nl == std::string_view::npos)
			return false; // torn: the last line has no end
		std::string_view line = text.substr(0, nl), list_text, login;
		text.remove_prefix(nl + 1);
		std::vector<int> list;
		if (!split_line(line, &list_text, &login) || !parse_marks(list_text, &list))
			return false;
		if (!out->emplace(std::string(login), std::move(list)).second)
			return false; // a login twice
	}
	return true;
}

std::string journal_line(std::string_view login, const std::vector<int> &marks)
{
	return line_of(login, marks);
}

bool replay(std::string_view text, Marks *marks, std::vector<std::string> *pending)
{
	std::map<std::string, int, std::less<>> records; // per login
	auto finish = [&] {
		if (pending != nullptr)
			for (const auto &[login, n] : records)
				if (n == 1 && marks->contains(login))
					pending->push_back(login);
		return true;
	};
	// Cut short before its header was synced: nothing was recorded yet.
	if (journal_header.starts_with(text))
		return true;
	if (!text.starts_with(journal_header))
		return false;
	text.remove_prefix(journal_header.size());
	while (!text.empty()) {
		std::size_t nl = text.find('\n');
		if (nl == std::string_view::npos)
			return finish(); // cut short while appended: never acted upon
		std::string_view line = text.substr(0, nl), list, login;
		text.remove_prefix(nl + 1);
		if (!split_line(line, &list, &login))
			return false;
		std::vector<int> m;
		if (list != "-" && !parse_marks(list, &m))
			return false;
		++records[std::string(login)];
		if (m.empty()) {
			if (auto it = marks->find(login); it != marks->end())
				marks->erase(it);
		} else {
			(*marks)[std::string(login)] = std::move(m);
		}
	}
	return finish();
}

int open(const char *folder, bool write, Store *s, const char **what)
{
	s->write = write;
	*what = folder;
	if (write && ::mkdir(folder, 0700) != 0 && errno != EEXIST)
		return errno;
	// The folder itself may be a link: systemd keeps a dynamic user's state
	// in /var/lib/private and links it from /var/lib. Only root can place
	// one there; the names inside are never followed.
	s->dir = ::open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	if (s->dir < 0)
		return !write && errno == ENOENT ? 0 : errno; // read-only: nothing yet
	struct stat st = {};
	if (::fstat(s->dir, &st) != 0)
		return errno;
	s->owner = st.st_uid;
	s->group = st.st_gid;
	// Files made by another user could not be given to the folder's owner.
	if (write && ::geteuid() != 0 && ::geteuid() != st.st_uid)
		return not_owner;
	*what = lock_name;
	int flags = write ? O_RDWR | O_CREAT : O_RDONLY;
	s->lock = ::openat(s->dir, lock_name, flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
	if (s->lock < 0) {
		if (!write && errno == ENOENT)
			return 0; // no run has been here yet
		return errno;
	}
	if (::fstat(s->lock, &st) != 0)
		return errno;
	if (!S_ISREG(st.st_mode))
		return EINVAL;
	if (write)
		if (int err = adopt(*s, s->lock))
			return err;
	while (::flock(s->lock, write ? LOCK_EX : LOCK_SH) != 0)
		if (errno != EINTR)
			return errno;
	if (write)
		remove_temporaries(s->dir);
	return 0;
}

int load(Store &s, Marks *out, Loaded *how, std::string *why)
{
	out->clear();
	*how = Loaded::fresh;
	if (s.dir < 0)
		return 0; // read-only, and no folder yet
	std::string text;
	switch (read_named(s, file_name, &text, why)) {
	case Found::absent:
		return 0;
	case Found::error:
		return -1;
	case Found::read:
		if (parse(text, out)) {
			*how = Loaded::read;
			return 0;
		}
		*why = "not a state file (damaged or cut short)";
		break;
	case Found::damaged:
		break;
	}
	out->clear();
	*how = Loaded::damaged;
	if (s.write && ::renameat(s.dir, file_name, s.dir, aside_name) != 0)
		return -1;
	return 0;
}

int fold(Store &s, Marks *marks, Loaded *how, std::string *why, std::vector<std::string> *pending)
{
	*how = Loaded::fresh;
	if (s.dir < 0)
		return 0;
	std::string text;
	Marks folded = *marks;
	switch (read_named(s, journal_name, &text, why)) {
	case Found::absent:
		return 0;
	case Found::error:
		return -1;
	case Found::read:
		if (replay(text, &folded, pending)) {
			if (s.write)
				if (int err = save(s, folded)) {
					errno = err;
					return -1;
				}
			*marks = std::move(folded);
			*how = Loaded::read;
			return 0;
		}
		*why = "not a journal (damaged)";
		break;
	case Found::damaged:
		break;
	}
	*how = Loaded::damaged;
	if (s.write && ::renameat(s.dir, journal_name, s.dir, journal_aside_name) != 0)
		return -1;
	return 0;
}

int record(Store &s, std::string_view login, const std::vector<int> &marks, bool sync)
{
	if (s.journal < 0) {
		int fd =
		    ::openat(s.dir, journal_name,
		             O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_APPEND | O_CLOEXEC, 0600);
		if (fd < 0)
			return errno;
		// Made and named durably before the first record may be acted upon.
		int err = adopt(s, fd);
		if (err == 0)
			err = write_all(fd, journal_header);
		if (err == 0 && ::fsync(fd) != 0)
			err = errno;
		if (err == 0 && ::fsync(s.dir) != 0)
			err = errno;
		if (err != 0) {
			::close(fd);
			::unlinkat(s.dir, journal_name, 0);
			return err;
		}
		s.journal = fd;
	}
	off_t before = ::lseek(s.journal, 0, SEEK_END);
	if (before < 0)
		return errno;
	std::string line = journal_line(login, marks);
	// One write: a record is whole or cut short, never mixed with another.
	ssize_t n = ::write(s.journal, line.data(), line.size());
	int err = n < 0 ? errno : 0;
	if (n >= 0 && static_cast<std::size_t>(n) != line.size())
		err = ENOSPC; // a short write: no room for the rest
	if (err == 0 && sync && ::fsync(s.journal) != 0)
		err = errno;
	if (err != 0 && ::ftruncate(s.journal, before) == 0)
		::fsync(s.journal);
	return err;
}

int save(Store &s, const Marks &marks)
{
	char name[16];
	int fd = create_temporary(s.dir, name);
	if (fd < 0)
		return errno;
	int err = adopt(s, fd);
	if (err == 0)
		err = write_all(fd, format(marks));
	if (err == 0 && ::fsync(fd) != 0)
		err = errno;
	if (::close(fd) != 0 && err == 0)
		err = errno;
	if (err == 0 && ::renameat(s.dir, name, s.dir, file_name) != 0)
		err = errno;
	if (err != 0) {
		::unlinkat(s.dir, name, 0);
		return err;
	}
	// The rename is durable once the folder is; only then may the journal
	// go (read again over the new state, it would change nothing).
	if (::fsync(s.dir) != 0)
		return errno;
	if (s.journal >= 0) {
		::close(s.journal);
		s.journal = -1;
	}
	if (::unlinkat(s.dir, journal_name, 0) != 0 && errno != ENOENT)
		return errno;
	return 0;
}

} // namespace state
