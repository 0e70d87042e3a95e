// SPDX-License-Identifier: ISC
// state - the state file of spoolwarn, read and replaced under a lock
// (state.h).
//
// Files: the state folder (/var/lib/spoolwarn), and in it lock, state,
// state.damaged and the temporaries .state.XXXXXX. Temporary names come
// from getrandom(2) and are created with O_EXCL | O_NOFOLLOW, so nothing
// planted in the folder is ever followed or overwritten.
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
constexpr std::string_view temp_prefix = ".state.";

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

} // namespace

Store::~Store()
{
	if (lock >= 0)
		::close(lock);
	if (dir >= 0)
		::close(dir);
}

std::string format(const Marks &marks)
{
	std::string text(header);
	for (const auto &[login, list] : marks) {
		if (list.empty())
			continue;
		for (std::size_t i = 0; i < list.size(); ++i) {
			if (i > 0)
				text += ',';
			text += std::to_string(list[i]);
		}
		text += ' ';
		text += login;
		text += '\n';
	}
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
		std::string_view line = text.substr(0, nl);
		text.remove_prefix(nl + 1);
		std::size_t blank = line.find(' ');
		if (blank == std::string_view::npos || blank + 1 == line.size())
			return false;
		std::vector<int> list;
		if (!parse_marks(line.substr(0, blank), &list))
			return false;
		if (!out->emplace(std::string(line.substr(blank + 1)), std::move(list)).second)
			return false; // a login twice
	}
	return true;
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
	*what = lock_name;
	int flags = write ? O_RDWR | O_CREAT : O_RDONLY;
	s->lock = ::openat(s->dir, lock_name, flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
	if (s->lock < 0) {
		if (!write && errno == ENOENT)
			return 0; // no run has been here yet
		return errno;
	}
	struct stat st = {};
	if (::fstat(s->lock, &st) != 0)
		return errno;
	if (!S_ISREG(st.st_mode))
		return EINVAL;
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
	int fd = ::openat(s.dir, file_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
	std::string text;
	if (fd < 0) {
		if (errno == ENOENT)
			return 0;
		if (errno != ELOOP && errno != ENXIO)
			return -1;
		*why = errno == ELOOP ? "a symbolic link" : "not a regular file";
	} else {
		struct stat st = {};
		if (::fstat(fd, &st) != 0) {
			int err = errno;
			::close(fd);
			errno = err;
			return -1;
		}
		if (!S_ISREG(st.st_mode)) {
			*why = S_ISDIR(st.st_mode) ? "a folder" : "not a regular file";
		} else if (int err = read_all(fd, &text)) {
			::close(fd);
			errno = err;
			return -1;
		} else if (parse(text, out)) {
			::close(fd);
			*how = Loaded::read;
			return 0;
		} else {
			*why = "not a state file (damaged or cut short)";
		}
		::close(fd);
	}
	out->clear();
	*how = Loaded::damaged;
	if (s.write && ::renameat(s.dir, file_name, s.dir, aside_name) != 0)
		return -1;
	return 0;
}

int save(Store &s, const Marks &marks)
{
	char name[16];
	int fd = create_temporary(s.dir, name);
	if (fd < 0)
		return errno;
	int err = write_all(fd, format(marks));
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
	// The rename is durable once the folder is.
	return ::fsync(s.dir) != 0 ? errno : 0;
}

} // namespace state
