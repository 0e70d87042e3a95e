// SPDX-License-Identifier: ISC
// state - the state file of spoolwarn and its journal, read, appended to
// and replaced under a lock (state.h).
//
// Files: the state folder (/var/lib/spoolwarn), and in it lock, state,
// journal, their .damaged names and the temporaries .state.XXXXXX.
// Temporary names come from getrandom(2); every file made is created with
// O_EXCL | O_NOFOLLOW, and only what was so made is given another owner.
// A file found is looked at (fstatat, not followed) before it is opened,
// and opened only when it is a regular file of the folder's owner with one
// link, so nothing planted in the folder is ever followed, overwritten or
// handed to anyone. Files are read through a buffer of fixed size, a line
// at a time.
#include "state.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>

namespace state {
namespace {

constexpr std::string_view header = "# spoolwarn state 1\n";
constexpr std::string_view journal_header = "# spoolwarn journal 1\n";
constexpr std::string_view temp_prefix = ".state.";

// Gives a file this run has just made (fd, from its O_EXCL create) the
// folder's owner and group when run as root, so that the folder's owner
// can read and replace it; 0 or errno. Never for a file found.
int give(const Store &s, int made)
{
	if (::geteuid() != 0)
		return 0;
	return ::fchown(made, s.owner, s.group) != 0 ? errno : 0;
}

// Whether a file found in the folder, of status st, may be used; *why says
// why not.
bool usable(const Store &s, const struct stat &st, std::string *why)
{
	if (S_ISLNK(st.st_mode))
		*why = "a symbolic link";
	else if (S_ISDIR(st.st_mode))
		*why = "a folder";
	else if (!S_ISREG(st.st_mode))
		*why = "not a regular file";
	else if (st.st_nlink != 1)
		*why = "has " + std::to_string(st.st_nlink) + " links";
	else if (st.st_uid != s.owner)
		*why = "owned by uid " + std::to_string(st.st_uid) + ", not by the folder's owner";
	else
		return true;
	return false;
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

enum class Found { absent, opened, damaged, error };

// Opens the file name found in the folder with flags (O_RDONLY or O_RDWR)
// into *fd when it may be used. Found::damaged: it may not (*why says
// why), and it was not opened if that could be seen first; Found::error:
// errno says why.
Found open_found(const Store &s, const char *name, int flags, int *fd, std::string *why)
{
	struct stat st = {};
	if (::fstatat(s.dir, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
		return errno == ENOENT ? Found::absent : Found::error;
	if (!usable(s, st, why))
		return Found::damaged;
	*fd = ::openat(s.dir, name, flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
	if (*fd < 0) {
		if (errno == ENOENT)
			return Found::absent;
		if (errno != ELOOP && errno != ENXIO)
			return Found::error;
		*why = errno == ELOOP ? "a symbolic link" : "not a regular file";
		return Found::damaged;
	}
	// Checked again on what was opened: the name may have changed since.
	int err = ::fstat(*fd, &st) != 0 ? errno : 0;
	if (err == 0 && usable(s, st, why))
		return Found::opened;
	::close(*fd);
	*fd = -1;
	errno = err;
	return err != 0 ? Found::error : Found::damaged;
}

// The lines of a text, or of a file read a piece at a time through a
// buffer of its own.
class Lines {
public:
	explicit Lines(std::string_view text) : rest_(text) {}
	explicit Lines(int fd) : fd_(fd) {}

	enum Next { line, end, torn, too_long, error };

	// The next line, without its newline, in *out (good until the next
	// call). torn: the last bytes had no newline (they are in *out);
	// too_long: a line is longer than line_max; error: a read failed
	// (errno).
	Next next(std::string_view *out)
	{
		while (true) {
			std::size_t nl = rest_.find('\n');
			if (nl <= line_max) { // (npos is far beyond)
				*out = rest_.substr(0, nl);
				rest_.remove_prefix(nl + 1);
				return line;
			}
			if (nl != std::string_view::npos || rest_.size() > line_max)
				return too_long;
			if (fd_ < 0 || done_) {
				*out = rest_;
				rest_ = {};
				return out->empty() ? end : torn;
			}
			// What is left moves to the front; a read fills the rest.
			std::size_t kept = rest_.size();
			if (kept > 0)
				std::memmove(buf_.data(), rest_.data(), kept);
			ssize_t n;
			while ((n = ::read(fd_, buf_.data() + kept, buf_.size() - kept)) < 0)
				if (errno != EINTR)
					return error;
			done_ = n == 0;
			rest_ = std::string_view(buf_.data(), kept + static_cast<std::size_t>(n));
		}
	}

private:
	std::string_view rest_;
	int fd_ = -1;
	bool done_ = false;
	std::array<char, 8 * line_max> buf_{};
};

// How the lines of a state or a journal read.
enum class Read { ok, damaged, too_long, error };

Read ended(Lines::Next n)
{
	return n == Lines::error      ? Read::error
	       : n == Lines::too_long ? Read::too_long
	                              : Read::damaged;
}

// A header without its newline, as a line.
std::string_view bare(std::string_view text)
{
	return text.substr(0, text.size() - 1);
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

// Reads a state file's lines into *out.
Read parse_lines(Lines &lines, Marks *out)
{
	out->clear();
	std::string_view line;
	Lines::Next n = lines.next(&line);
	if (n != Lines::line || line != bare(header))
		return ended(n);
	while ((n = lines.next(&line)) == Lines::line) {
		std::string_view list_text, login;
		std::vector<int> list;
		if (!split_line(line, &list_text, &login) || !parse_marks(list_text, &list))
			return Read::damaged;
		if (!out->emplace(std::string(login), std::move(list)).second)
			return Read::damaged; // a login twice
	}
	return n == Lines::end ? Read::ok : ended(n); // torn: the last line has no end
}

// Applies a journal's lines to *marks, in order.
Read replay_lines(Lines &lines, Marks *marks, std::vector<std::string> *pending)
{
	std::string_view line;
	Lines::Next n = lines.next(&line);
	// Cut short before its header was synced: nothing was recorded yet.
	if (n == Lines::end || (n == Lines::torn && bare(journal_header).starts_with(line)))
		return Read::ok;
	if (n != Lines::line || line != bare(journal_header))
		return ended(n);
	std::map<std::string, int, std::less<>> records; // per login
	while ((n = lines.next(&line)) == Lines::line) {
		std::string_view list, login;
		if (!split_line(line, &list, &login))
			return Read::damaged;
		std::vector<int> m;
		if (list != "-" && !parse_marks(list, &m))
			return Read::damaged;
		++records[std::string(login)];
		if (m.empty()) {
			if (auto it = marks->find(login); it != marks->end())
				marks->erase(it);
		} else {
			(*marks)[std::string(login)] = std::move(m);
		}
	}
	// A last record cut short while appended was never acted upon.
	if (n != Lines::end && n != Lines::torn)
		return ended(n);
	// A login recorded once was being handed over when its run ended.
	if (pending != nullptr)
		for (const auto &[login, count] : records)
			if (count == 1 && marks->contains(login))
				pending->push_back(login);
	return Read::ok;
}

// What a line too long makes of a file.
std::string too_long_why(const char *what)
{
	return std::string(what) + " (a line longer than " + std::to_string(line_max) + " bytes)";
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
	Lines lines(text);
	return parse_lines(lines, out) == Read::ok;
}

std::string journal_line(std::string_view login, const std::vector<int> &marks)
{
	return line_of(login, marks);
}

bool replay(std::string_view text, Marks *marks, std::vector<std::string> *pending)
{
	Lines lines(text);
	return replay_lines(lines, marks, pending) == Read::ok;
}

namespace {

// Opens the lock file into s.lock: made, and given the folder's owner,
// when writing and there is none; one found is used only when
// open_found() allows it. 0, unusable (*why says why), or errno.
int open_lock(Store &s, std::string *why)
{
	for (int attempt = 0; attempt < 100; ++attempt) {
		if (s.write) {
			s.lock = ::openat(s.dir, lock_name,
			                  O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
			if (s.lock >= 0)
				return give(s, s.lock);
			if (errno != EEXIST)
				return errno;
		}
		switch (open_found(s, lock_name, s.write ? O_RDWR : O_RDONLY, &s.lock, why)) {
		case Found::opened:
			return 0;
		case Found::damaged:
			return unusable;
		case Found::error:
			return errno;
		case Found::absent:
			if (!s.write)
				return 0; // no run has been here yet
			break;            // removed meanwhile: made anew
		}
	}
	return EAGAIN;
}

} // namespace

int open(const char *folder, bool write, Store *s, const char **what, std::string *why)
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
	if (int err = open_lock(*s, why))
		return err;
	if (s->lock < 0)
		return 0; // read-only, no lock file yet
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
	int fd = -1;
	switch (open_found(s, file_name, O_RDONLY, &fd, why)) {
	case Found::absent:
		return 0;
	case Found::error:
		return -1;
	case Found::opened: {
		Lines lines(fd);
		Read read = parse_lines(lines, out);
		int err = errno;
		::close(fd);
		if (read == Read::ok) {
			*how = Loaded::read;
			return 0;
		}
		if (read == Read::error) {
			out->clear();
			errno = err;
			return -1;
		}
		*why = read == Read::too_long ? too_long_why("not a state file")
		                              : "not a state file (damaged or cut short)";
		break;
	}
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
	Marks folded = *marks;
	int fd = -1;
	switch (open_found(s, journal_name, O_RDONLY, &fd, why)) {
	case Found::absent:
		return 0;
	case Found::error:
		return -1;
	case Found::opened: {
		Lines lines(fd);
		Read read = replay_lines(lines, &folded, pending);
		int read_err = errno;
		::close(fd);
		if (read == Read::error) {
			errno = read_err;
			return -1;
		}
		if (read == Read::ok) {
			if (s.write)
				if (int err = save(s, folded)) {
					errno = err;
					return -1;
				}
			*marks = std::move(folded);
			*how = Loaded::read;
			return 0;
		}
		*why = read == Read::too_long ? too_long_why("not a journal")
		                              : "not a journal (damaged)";
		break;
	}
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
		int err = give(s, fd);
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
	int err = give(s, fd);
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
