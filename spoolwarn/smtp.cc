// SPDX-License-Identifier: ISC
// smtp - handing a letter to a mail server over SMTP (smtp.h).
//
// One socket per attempt, owned by a Socket and closed with it. Every wait
// is a poll() for the time left before the deadline of the exchange's
// current part (up to the final dot, its answer, QUIT), and the socket is
// non-blocking, so neither a silent server nor a slow one can hold the
// caller past it.
#include "smtp.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <memory>

namespace smtp {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::string_view scheme = "smtp:";
constexpr std::size_t max_reply = 8192; // bytes of one reply, all its lines
constexpr std::size_t max_shown = 300;  // characters of a reply in *why

// s with every byte that is not printable ASCII as '?', cut to max_shown.
std::string clean(std::string_view s)
{
	std::string out;
	for (char c : s.substr(0, max_shown))
		out += c >= 0x20 && c <= 0x7e ? c : '?';
	if (s.size() > max_shown)
		out += "...";
	return out;
}

bool is_ipv6(const std::string &host)
{
	in6_addr a;
	return ::inet_pton(AF_INET6, host.c_str(), &a) == 1;
}

// A host name, or a numeric IPv4 address: letters, digits, '-', '_' in
// dot-separated labels.
bool is_name(std::string_view host)
{
	if (host.empty() || host.size() > 253 || host.front() == '.' || host.front() == '-' ||
	    host.find("..") != std::string_view::npos)
		return false;
	return std::all_of(host.begin(), host.end(), [](char c) {
		return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
		       c == '.' || c == '-' || c == '_';
	});
}

bool parse_port(std::string_view s, std::string *out)
{
	unsigned value = 0;
	auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
	if (s.empty() || ec != std::errc() || end != s.data() + s.size() || value < 1 ||
	    value > 65535)
		return false;
	*out = std::to_string(value);
	return true;
}

class Socket {
public:
	explicit Socket(int fd) : fd_(fd) {}
	~Socket()
	{
		if (fd_ >= 0)
			::close(fd_);
	}
	Socket(const Socket &) = delete;
	Socket &operator=(const Socket &) = delete;
	int fd() const { return fd_; }
	int release()
	{
		int owned = fd_;
		fd_ = -1;
		return owned;
	}

private:
	int fd_;
};

// One exchange: the socket, its deadline, and what was read ahead.
struct Session {
	int fd = -1;
	Clock::time_point deadline;
	int seconds = 0;
	std::string in;
};

// Waits until fd is ready for events or the deadline passes: 1 ready, 0
// the deadline passed, -1 an error (errno).
int wait_for(int fd, short events, Clock::time_point deadline)
{
	for (;;) {
		auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
		if (left.count() <= 0)
			return 0;
		pollfd p = {fd, events, 0};
		int n = ::poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 1 << 30)));
		if (n > 0)
			return 1;
		if (n < 0 && errno != EINTR)
			return -1;
	}
}

std::string late(const Session &s)
{
	return "no answer within the deadline of " + std::to_string(s.seconds) + " s";
}

bool write_all(Session &s, std::string_view data, std::string *err)
{
	while (!data.empty()) {
		int ready = wait_for(s.fd, POLLOUT, s.deadline);
		if (ready <= 0) {
			*err = ready == 0 ? late(s) : std::strerror(errno);
			return false;
		}
		ssize_t n = ::send(s.fd, data.data(), data.size(), MSG_NOSIGNAL);
		if (n < 0) {
			if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)
				continue;
			*err = std::strerror(errno);
			return false;
		}
		data.remove_prefix(static_cast<std::size_t>(n));
	}
	return true;
}

// One line of a reply, without its line end.
bool read_line(Session &s, std::string *line, std::string *err)
{
	for (;;) {
		std::size_t nl = s.in.find('\n');
		if (nl != std::string::npos) {
			std::size_t end = nl > 0 && s.in[nl - 1] == '\r' ? nl - 1 : nl;
			line->assign(s.in, 0, end);
			s.in.erase(0, nl + 1);
			return true;
		}
		if (s.in.size() > max_reply) {
			*err = "a reply longer than " + std::to_string(max_reply) + " bytes";
			return false;
		}
		int ready = wait_for(s.fd, POLLIN, s.deadline);
		if (ready <= 0) {
			*err = ready == 0 ? late(s) : std::strerror(errno);
			return false;
		}
		char buf[1024];
		ssize_t n = ::recv(s.fd, buf, sizeof buf, 0);
		if (n < 0) {
			if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)
				continue;
			*err = std::strerror(errno);
			return false;
		}
		if (n == 0) {
			*err = "the server closed the connection";
			return false;
		}
		s.in.append(buf, static_cast<std::size_t>(n));
	}
}

// A whole reply, its lines "CODE-text" up to the last "CODE text": its
// code, and "CODE text text..." for the record.
bool read_reply(Session &s, int *code, std::string *text, std::string *err)
{
	std::size_t total = 0;
	*code = -1;
	for (;;) {
		std::string line;
		if (!read_line(s, &line, err))
			return false;
		total += line.size() + 2;
		if (total > max_reply) {
			*err = "a reply longer than " + std::to_string(max_reply) + " bytes";
			return false;
		}
		int c = 0;
		bool last = line.size() == 3 || (line.size() > 3 && line[3] == ' ');
		if (line.size() < 3 ||
		    std::from_chars(line.data(), line.data() + 3, c).ptr != line.data() + 3 ||
		    c < 200 || c > 599 || (!last && line[3] != '-') || (*code >= 0 && c != *code)) {
			*err = "a malformed reply: " + clean(line);
			return false;
		}
		if (*code < 0)
			*text = line.substr(0, 3);
		*code = c;
		if (line.size() > 4) {
			text->push_back(' ');
			text->append(line, 4);
		}
		if (last)
			return true;
	}
}

// The letter as the DATA step sends it: lines ended in CRLF, a line that
// starts with '.' given another, the final dot.
std::string data_of(std::string_view letter)
{
	std::string out;
	out.reserve(letter.size() + letter.size() / 16 + 8);
	bool at_start = true;
	for (char c : letter) {
		if (c == '\r')
			continue;
		if (c == '\n') {
			out += "\r\n";
			at_start = true;
			continue;
		}
		if (at_start && c == '.')
			out += '.';
		out += c;
		at_start = false;
	}
	if (!at_start)
		out += "\r\n";
	out += ".\r\n";
	return out;
}

// A connected socket to a, or -1 with *err set: errno, or -1 when the
// deadline passed.
int connect_one(const addrinfo *a, Clock::time_point deadline, int *err)
{
	int fd =
	    ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
	if (fd < 0) {
		*err = errno;
		return -1;
	}
	Socket sock(fd);
	if (::connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
		if (errno != EINPROGRESS) {
			*err = errno;
			return -1;
		}
		int ready = wait_for(fd, POLLOUT, deadline);
		if (ready <= 0) {
			*err = ready == 0 ? -1 : errno;
			return -1;
		}
		int soerr = 0;
		socklen_t len = sizeof soerr;
		if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soerr, &len) != 0 || soerr != 0) {
			*err = soerr != 0 ? soerr : errno;
			return -1;
		}
	}
	return sock.release();
}

// Connects s to an address of t; false with *why set.
bool connect_to(const Target &t, Session &s, std::string *why)
{
	// Every address of the host, IPv4 and IPv6 alike, also where the host
	// has no address of that family but the loopback.
	addrinfo hints = {};
	hints.ai_family = AF_UNSPEC;
	hints.ai_socktype = SOCK_STREAM;
	hints.ai_flags = AI_NUMERICSERV;
	addrinfo *found = nullptr;
	std::string where = "connect to " + t.host + " port " + t.port + ": ";
	if (int rc = ::getaddrinfo(t.host.c_str(), t.port.c_str(), &hints, &found)) {
		*why = where + (rc == EAI_SYSTEM ? std::strerror(errno) : ::gai_strerror(rc));
		return false;
	}
	std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> list(found, ::freeaddrinfo);
	int err = 0;
	for (const addrinfo *a = found; a != nullptr && s.fd < 0 && err >= 0; a = a->ai_next)
		s.fd = connect_one(a, s.deadline, &err);
	if (s.fd < 0) {
		*why = where + (err < 0 ? late(s) : std::strerror(err));
		return false;
	}
	return true;
}

// Whether v can go into a command line whole: nothing that would end it
// early, or end the address.
bool usable(std::string_view v)
{
	return !v.empty() && v.find_first_of("<> \r\n") == std::string_view::npos;
}

} // namespace

bool is_target(std::string_view value)
{
	return value.starts_with(scheme);
}

bool parse(std::string_view value, Target *out, std::string *error)
{
	if (!is_target(value)) {
		*error = "not of the form smtp:HOST[:PORT]";
		return false;
	}
	std::string_view rest = value.substr(scheme.size());
	std::string host, port = "25";
	std::string_view port_text;
	bool bracketed = rest.starts_with('[');
	if (bracketed) {
		std::size_t close = rest.find(']');
		if (close == std::string_view::npos) {
			*error = "a '[' without its ']'";
			return false;
		}
		host = rest.substr(1, close - 1);
		std::string_view after = rest.substr(close + 1);
		if (!after.empty()) {
			if (!after.starts_with(':')) {
				*error = "only :PORT may follow ']'";
				return false;
			}
			port_text = after.substr(1);
			if (port_text.empty()) {
				*error = "no PORT after ':'";
				return false;
			}
		}
	} else {
		std::size_t colon = rest.find(':');
		if (colon != std::string_view::npos &&
		    rest.find(':', colon + 1) == std::string_view::npos) {
			host = rest.substr(0, colon);
			port_text = rest.substr(colon + 1);
			if (port_text.empty()) {
				*error = "no PORT after ':'";
				return false;
			}
		} else {
			host = rest; // a name, or an IPv6 address without a port
		}
	}
	if (host.empty()) {
		*error = "no HOST";
		return false;
	}
	if (!is_name(host) && !is_ipv6(host)) {
		*error = "HOST must be a host name or a numeric IPv4 or IPv6 address (with a "
		         "port, an IPv6 address in brackets: smtp:[::1]:25)";
		return false;
	}
	if (!port_text.empty() && !parse_port(port_text, &port)) {
		*error = "PORT must be a whole number from 1 to 65535";
		return false;
	}
	out->host = host;
	out->port = port;
	return true;
}

Answer send(const Target &t, std::string_view helo_name, std::string_view recipient_address,
            std::string_view letter, int deadline_seconds, std::string *why)
{
	if (!usable(helo_name) || !usable(recipient_address)) {
		*why = "cannot be put in a command: " + clean(helo_name) + " " +
		       clean(recipient_address);
		return Answer::not_sent;
	}
	Session s;
	s.seconds = deadline_seconds;
	s.deadline = Clock::now() + std::chrono::seconds(deadline_seconds);
	if (!connect_to(t, s, why))
		return Answer::not_sent;
	Socket sock(s.fd);

	// Sends command (none for the greeting) and reads the reply; false with
	// *why set when that fails or the reply's class is not want (code is
	// then the reply's, or 0 when there was none).
	int code = 0;
	auto ask = [&](const char *step, std::string_view command, int want) {
		std::string text, fault;
		code = 0;
		if (!write_all(s, command, &fault) || !read_reply(s, &code, &text, &fault)) {
			*why = std::string(step) + ": " + fault;
			code = 0;
			return false;
		}
		if (code / 100 == want)
			return true;
		*why = std::string(step) + ": " + clean(text);
		return false;
	};
	// After a refusal, a polite end; its reply does not matter.
	auto give_up = [&](Answer a) {
		std::string ignored;
		write_all(s, "QUIT\r\n", &ignored);
		return a;
	};
	// A 5xx before RCPT turns this client away; one from RCPT on, this letter.
	auto refusal = [&](Answer if_5xx) {
		return give_up(code / 100 == 5 ? if_5xx : Answer::not_sent);
	};
	std::string helo(helo_name), to(recipient_address);
	if (!ask("greeting", "", 2))
		return refusal(Answer::turned_away);
	// A server that does not know EHLO refuses it with 5xx.
	bool greeted = ask("EHLO", "EHLO " + helo + "\r\n", 2) ||
	               (code / 100 == 5 && ask("HELO", "HELO " + helo + "\r\n", 2));
	if (!greeted || !ask("MAIL FROM", "MAIL FROM:<>\r\n", 2))
		return refusal(Answer::turned_away);
	if (!ask("RCPT TO", "RCPT TO:<" + to + ">\r\n", 2) || !ask("DATA", "DATA\r\n", 3))
		return refusal(Answer::refused);
	std::string data = data_of(letter);
	std::string fault;
	if (!write_all(s, data, &fault)) {
		*why = "end of data: " + fault;
		return Answer::not_sent;
	}
	// The dot is out: the server may have the letter from now on.
	s.seconds = std::max(deadline_seconds, dot_seconds);
	s.deadline = Clock::now() + std::chrono::seconds(s.seconds);
	if (!ask("end of data", "", 2))
		return code / 100 == 5   ? Answer::refused
		       : code / 100 == 4 ? Answer::not_sent
		                         : Answer::unknown;
	// The server has the letter; how it takes QUIT changes nothing, and a
	// server that never answers it costs seconds, not a deadline.
	s.seconds = quit_seconds;
	s.deadline = Clock::now() + std::chrono::seconds(s.seconds);
	ask("QUIT", "QUIT\r\n", 2);
	why->clear();
	return Answer::sent;
}

} // namespace smtp
