// SPDX-License-Identifier: ISC
// mailname - the host's mail name (mailname.h).
#include "mailname.h"

#include <limits.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>

#include "regular.h"

namespace mailname {

namespace {

// The most of the file read: a mail name is 253 characters at most.
constexpr std::size_t most = 256;

// The first line of file, or empty when it cannot be read.
std::string first_line(const char *file)
{
	int fd = regular::open_file(file);
	if (fd < 0)
		return {};
	std::string text(most, '\0');
	std::size_t got = 0;
	while (got < most) {
		ssize_t n = ::read(fd, text.data() + got, most - got);
		if (n < 0 && errno == EINTR)
			continue;
		if (n <= 0) {
			if (n < 0)
				got = 0;
			break;
		}
		got += static_cast<std::size_t>(n);
	}
	::close(fd);
	text.resize(got);
	std::size_t nl = text.find('\n');
	if (nl == std::string::npos && got == most)
		return {}; // a line longer than any mail name
	return text.substr(0, nl);
}

std::string_view trimmed(std::string_view s)
{
	auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
	while (!s.empty() && blank(s.front()))
		s.remove_prefix(1);
	while (!s.empty() && blank(s.back()))
		s.remove_suffix(1);
	return s;
}

} // namespace

bool is_domain(std::string_view name)
{
	if (name.empty() || name.size() > 253)
		return false;
	for (;;) {
		std::size_t dot = name.find('.');
		std::string_view label = name.substr(0, dot);
		if (label.empty() || label.size() > 63 || label.front() == '-' ||
		    label.back() == '-')
			return false;
		for (char c : label)
			if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-')
				return false;
		if (dot == std::string_view::npos)
			return true;
		name.remove_prefix(dot + 1);
	}
}

std::string lookup(const char *file)
{
	std::string line = first_line(file);
	std::string_view name = trimmed(line);
	if (is_domain(name))
		return std::string(name);
	char host[HOST_NAME_MAX + 1] = {};
	if (::gethostname(host, sizeof host - 1) == 0 && is_domain(host))
		return host;
	return "localhost";
}

} // namespace mailname
