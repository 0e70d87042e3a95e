// SPDX-License-Identifier: ISC
// harness.h - what the fuzz targets share: checking a property, and a
// private scratch file for the readers that take a path.
//
// A failed check prints what differed on standard error and aborts, which
// libFuzzer reports as a finding and saves the input. Single-threaded, as
// libFuzzer runs the targets.
#ifndef FUZZ_HARNESS_H
#define FUZZ_HARNESS_H

#include <fcntl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace harness {

// printf-style reports, checked by the compiler (hence C variadics).
inline void vreport(const char *format, std::va_list args)
{
	std::fputs("property violated: ", stderr);
	std::vfprintf(stderr, format, args);
	std::fputc('\n', stderr);
}

// Reports a violated property and aborts.
// NOLINTNEXTLINE(cert-dcl50-cpp)
[[noreturn, gnu::format(printf, 1, 2)]] inline void fail(const char *format, ...)
{
	std::va_list args;
	va_start(args, format);
	vreport(format, args);
	va_end(args);
	std::abort();
}

// Aborts with the message when the property does not hold.
// NOLINTNEXTLINE(cert-dcl50-cpp)
[[gnu::format(printf, 2, 3)]] inline void expect(bool holds, const char *format, ...)
{
	if (holds)
		return;
	std::va_list args;
	va_start(args, format);
	vreport(format, args);
	va_end(args);
	std::abort();
}

// A folder of this process's own, removed with its files at exit: under
// $TMPDIR when set, else in memory (/dev/shm) where there is such a place,
// since every input is written to a file, else under /tmp.
class Scratch {
public:
	Scratch()
	{
		const char *tmp = std::getenv("TMPDIR");
		for (const char *base : {tmp, "/dev/shm", "/tmp"}) {
			if (base == nullptr || *base == '\0')
				continue;
			dir_ = std::string(base) + "/fuzz-XXXXXX";
			if (::mkdtemp(dir_.data()) != nullptr)
				return;
		}
		expect(false, "cannot make a scratch folder (%s)", dir_.c_str());
	}
	~Scratch()
	{
		for (const std::string &f : made_)
			::unlink(f.c_str());
		::rmdir(dir_.c_str());
	}
	Scratch(const Scratch &) = delete;
	Scratch &operator=(const Scratch &) = delete;

	// The path of name inside the folder.
	std::string path(const char *name)
	{
		std::string p = dir_ + "/" + name;
		made_.push_back(p);
		return p;
	}

private:
	std::string dir_;
	std::vector<std::string> made_;
};

// Replaces the content of the file at path with bytes.
inline void put_file(const std::string &path, std::string_view bytes)
{
	int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
	expect(fd >= 0, "cannot write %s", path.c_str());
	while (!bytes.empty()) {
		ssize_t put = ::write(fd, bytes.data(), bytes.size());
		expect(put > 0, "cannot write %s", path.c_str());
		bytes.remove_prefix(static_cast<std::size_t>(put));
	}
	::close(fd);
}

} // namespace harness

#endif
