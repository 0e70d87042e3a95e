// SPDX-License-Identifier: ISC
// boxpolicy - Postfix SMTP access policy service: refuses mail that would
// take a system mailbox over the site's limit.
//
// Usage: boxpolicy [-t] [-d CHARS] [-i SECONDS] [-l BYTES] [-r BYTES]
//                  [-a COUNT] [DOMAIN...]
//
// Serves one client connection on standard input and output, as started by
// Postfix's spawn(8) or by systemd socket activation with Accept=yes: reads
// policy delegation requests, answers each with one action line, and ends
// when the client closes the connection or stays idle past -i seconds
// (sending nothing, or taking no answer).
// Faulty input is logged and ends the connection without an answer.
//
// Refuses to run as root: one line on standard error, exit EX_USAGE. Other
// command-line mistakes likewise. After start-up standard error is
// /dev/null (under spawn(8) it is the client's socket) and everything is
// logged to syslog, facility mail.
//
// Exit status: 0 when the client ended the connection or was idle between
// requests; 1 after a protocol fault or an input/output error (logged);
// EX_USAGE for a bad command line or root. Reads /etc/passwd or its
// database, /var/mail/.boxquota once, and the status of mailboxes.
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <sysexits.h>

#include "accounts.h"
#include "answer.h"
#include "judge.h"
#include "options.h"
#include "request.h"

namespace {

// Writes all of out to standard output; false (errno set) on failure, and
// with ETIMEDOUT when a client takes no answer for idle seconds. On a
// socket each send is non-blocking by itself, so a client that never reads
// cannot hold the process; on anything else (a pipe) writes block.
bool write_all(std::string_view out, int idle)
{
	while (!out.empty()) {
		ssize_t n =
		    ::send(STDOUT_FILENO, out.data(), out.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
		if (n < 0 && errno == ENOTSOCK)
			n = ::write(STDOUT_FILENO, out.data(), out.size());
		if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
			pollfd p{STDOUT_FILENO, POLLOUT, 0};
			int ready = ::poll(&p, 1, idle * 1000);
			if (ready == 0)
				errno = ETIMEDOUT;
			if (ready > 0 || errno == EINTR)
				continue;
			return false;
		}
		if (n < 0 && errno == EINTR)
			continue;
		if (n <= 0)
			return false;
		out.remove_prefix(static_cast<std::size_t>(n));
	}
	return true;
}

// Logs why the connection is closed without an answer.
void log_fault(const request::Reader &reader)
{
	syslog(LOG_WARNING, "%s", answer::fault(reader.fault(), reader.limits()).c_str());
}

// How the reading of the next input ended.
enum class Input { data, end, idle, error };

// Waits up to idle seconds for input and reads what there is into space.
Input read_some(std::span<char> space, int idle, std::size_t *got)
{
	pollfd p{STDIN_FILENO, POLLIN, 0};
	for (;;) {
		int ready = ::poll(&p, 1, idle * 1000);
		if (ready < 0 && errno == EINTR)
			continue;
		if (ready < 0)
			return Input::error;
		if (ready == 0)
			return Input::idle;
		ssize_t n = ::read(STDIN_FILENO, space.data(), space.size());
		if (n < 0 && (errno == EINTR || errno == EAGAIN))
			continue;
		if (n < 0)
			return Input::error;
		if (n == 0)
			return Input::end;
		*got = static_cast<std::size_t>(n);
		return Input::data;
	}
}

// Answers requests until the connection ends; the exit status.
int serve(const options::Options &opt)
{
	request::Reader reader(opt.limits);
	accounts::System boxes;
	std::string out;
	for (;;) {
		request::Request req;
		while (reader.next(&req)) {
			judge::Verdict v = judge::judge(req, opt.settings, boxes);
			if (v.over)
				syslog(LOG_INFO, "%s", answer::refusal(v, opt.temporary).c_str());
			out += answer::action(v, opt.temporary);
		}
		// Every complete request held is answered at once, in one write.
		if (!out.empty()) {
			if (!write_all(out, opt.idle)) {
				syslog(LOG_WARNING, "warning: write to the client: %s",
				       std::strerror(errno));
				return 1;
			}
			out.clear();
		}
		if (reader.fault() != request::Fault::none) {
			log_fault(reader);
			return 1;
		}
		std::size_t got = 0;
		switch (read_some(reader.space(), opt.idle, &got)) {
		case Input::data:
			reader.filled(got);
			break;
		case Input::end:
			reader.end();
			if (reader.fault() == request::Fault::none)
				return 0;
			log_fault(reader);
			return 1;
		case Input::idle:
			if (!reader.inside())
				return 0;
			syslog(LOG_WARNING,
			       "warning: closing the connection without an answer: "
			       "idle for %d seconds inside a request",
			       opt.idle);
			return 1;
		case Input::error:
			syslog(LOG_WARNING, "warning: read from the client: %s",
			       std::strerror(errno));
			return 1;
		}
	}
}

} // namespace

int main(int argc, char *argv[])
{
	options::Options opt;
	std::string error;
	if (!options::parse(argc, argv, &opt, &error)) {
		std::fprintf(stderr, "boxpolicy: %s\n%s", error.c_str(), options::usage);
		return EX_USAGE;
	}
	if (opt.help) {
		std::fputs(options::usage, stdout);
		std::fputs(options::help, stdout);
		return std::fflush(stdout) == 0 ? EX_OK : EX_IOERR;
	}
	if (opt.version) {
		std::puts("boxpolicy " BOXPOLICY_VERSION);
		return std::fflush(stdout) == 0 ? EX_OK : EX_IOERR;
	}
	if (::getuid() == 0 || ::geteuid() == 0) {
		std::fputs("boxpolicy: refusing to run as root: give it an unprivileged user\n",
		           stderr);
		return EX_USAGE;
	}

	openlog("boxpolicy", LOG_PID | LOG_NDELAY, LOG_MAIL);
	// A client that goes away shows as a failed write, not a signal.
	std::signal(SIGPIPE, SIG_IGN);
	int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
	if (null >= 0) {
		::dup2(null, STDERR_FILENO);
		if (null != STDERR_FILENO)
			::close(null);
	}
	return serve(opt);
}
