// SPDX-License-Identifier: ISC
// boxpolicy - refuses mail that would take a system mailbox over the site's
// limit: a Postfix SMTP access policy service, and a socketmap table
// (boxquota) for Postfix's local delivery and Exim's router.
//
// Usage: boxpolicy [-t] [-d CHARS] [-i SECONDS] [-w SECONDS] [-l BYTES]
//                  [-r BYTES] [-a COUNT] [DOMAIN...]
//
// Serves one client connection on standard input and output, as started by
// Postfix's spawn(8) or by systemd socket activation with Accept=yes. The
// first byte tells the protocol, kept to the end of the connection: a
// letter starts policy delegation requests, each answered with one action
// line; a digit starts socketmap lookups (netstrings), each answered with
// one netstring. It ends when the client closes the connection or stays
// idle past -i seconds (sending nothing, or taking no answer). A request
// or lookup must be whole within -w seconds of its first byte, however
// its bytes trickle in: past that the client is logged and dropped, so a
// slow client cannot hold the process. Faulty input is logged and ends the
// connection without an answer.
//
// Refuses to run as root: one line on standard error, exit EX_USAGE. Other
// command-line mistakes likewise. After start-up standard error is
// /dev/null (under spawn(8) it is the client's socket) and everything is
// logged to syslog, facility mail: one line per refusal, one per fault,
// and once per cause a mailbox that could not be examined.
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

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <sysexits.h>

#include "accounts.h"
#include "answer.h"
#include "feed.h"
#include "judge.h"
#include "netstring.h"
#include "options.h"
#include "peer.h"
#include "request.h"
#include "verdict.h"

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

// How the reading of the next input ended.
enum class Input { data, end, idle, error };

// Waits up to wait milliseconds for input and reads what there is into
// space.
Input read_some(std::span<char> space, int wait, std::size_t *got)
{
	pollfd p{STDIN_FILENO, POLLIN, 0};
	for (;;) {
		int ready = ::poll(&p, 1, wait);
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

// Logs a judged mailbox that could not be examined, once per cause.
void note_blind(const judge::Verdict &v)
{
	if (v.judged && verdict::blind(v.box) && answer::first_of_cause(v.box.error))
		syslog(LOG_WARNING, "%s", answer::blind(v).c_str());
}

// Answers every complete policy request the reader holds, into out.
void answer_requests(request::Reader &reader, const options::Options &opt, accounts::System &boxes,
                     std::string &out)
{
	request::Request req;
	while (reader.next(&req)) {
		judge::Verdict v = judge::judge(req, opt.settings, boxes);
		note_blind(v);
		if (v.over)
			syslog(LOG_INFO, "%s", answer::refusal(v, opt.temporary).c_str());
		out += answer::action(v, opt.temporary);
	}
}

// Answers every complete lookup the reader holds, into out. Only the map
// boxquota is served; any other name is not found.
void answer_lookups(netstring::Reader &reader, const options::Options &opt, accounts::System &boxes,
                    std::string &out)
{
	netstring::Lookup look;
	while (reader.next(&look)) {
		judge::Verdict v;
		if (look.name == "boxquota")
			v = judge::lookup(look.key, opt.settings, boxes);
		note_blind(v);
		if (v.over)
			syslog(LOG_INFO, "%s", answer::refusal(v, opt.temporary).c_str());
		out += answer::lookup(v, opt.temporary);
	}
}

using Clock = std::chrono::steady_clock;

// The clock of the request under way: it starts at the read that brought
// the request's first byte and stops when the request is answered.
class RequestClock {
public:
	explicit RequestClock(int seconds) : bound_(std::chrono::seconds(seconds)) {}

	// After input was read at when and what was whole answered: starts the
	// clock for a request begun (inside) and not yet timed, stops it when
	// answered and nothing more is held.
	void update(bool answered, bool inside, Clock::time_point when)
	{
		if (answered)
			timing_ = false;
		if (inside && !timing_) {
			timing_ = true;
			began_ = when;
		}
		if (!inside)
			timing_ = false;
	}

	// How long to wait for more input, in milliseconds: idle seconds, or
	// less when the request's time ends first (then *bounded is set); 0
	// when it has ended.
	int wait(int idle, bool *bounded) const
	{
		*bounded = false;
		long long ms = idle * 1000LL;
		if (timing_) {
			auto left = std::chrono::ceil<std::chrono::milliseconds>(began_ + bound_ -
			                                                         Clock::now());
			if (left.count() <= ms) {
				ms = std::max<long long>(left.count(), 0);
				*bounded = true;
			}
		}
		return static_cast<int>(ms);
	}

private:
	std::chrono::seconds bound_;
	bool timing_ = false;
	Clock::time_point began_;
};

// Logs a client dropped for a request not whole within its time.
void log_slow(const options::Options &opt)
{
	syslog(LOG_WARNING,
	       "warning: closing the connection without an answer: request not complete "
	       "within %d seconds of its first byte: %s",
	       opt.request_time, peer::name().c_str());
}

// Answers requests from reader (a policy or a netstring reader) until the
// connection ends, starting with the bytes already read (at start); the
// exit status.
template <class Reader, class Answer>
int converse(Reader &reader, std::string_view first, Clock::time_point start,
             const options::Options &opt, Answer answer_all)
{
	accounts::System boxes;
	std::string out;
	RequestClock clock(opt.request_time);
	Clock::time_point last_read = start;
	using Fault = decltype(reader.fault());
	auto log_fault = [&] {
		syslog(LOG_WARNING, "%s", answer::fault(reader.fault(), opt.limits).c_str());
	};
	feed::pieces(reader, &first, first.size(),
	             [&](Reader &r) { answer_all(r, opt, boxes, out); });
	for (;;) {
		answer_all(reader, opt, boxes, out);
		clock.update(!out.empty(), reader.inside(), last_read);
		// Every complete request held is answered at once, in one write.
		if (!out.empty()) {
			if (!write_all(out, opt.idle)) {
				syslog(LOG_WARNING, "warning: write to the client: %s",
				       std::strerror(errno));
				return 1;
			}
			out.clear();
		}
		if (reader.fault() != Fault::none) {
			log_fault();
			return 1;
		}
		bool bounded = false;
		int wait = clock.wait(opt.idle, &bounded);
		if (bounded && wait == 0) {
			log_slow(opt);
			return 1;
		}
		std::size_t got = 0;
		switch (read_some(reader.space(), wait, &got)) {
		case Input::data:
			last_read = Clock::now();
			reader.filled(got);
			break;
		case Input::end:
			reader.end();
			if (reader.fault() == Fault::none)
				return 0;
			log_fault();
			return 1;
		case Input::idle:
			if (bounded) {
				log_slow(opt);
				return 1;
			}
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

// Serves one connection: its first bytes tell which protocol it speaks,
// policy requests or socketmap lookups, and it speaks that one to the end.
int serve(const options::Options &opt)
{
	char first[512];
	std::size_t got = 0;
	switch (read_some(first, opt.idle * 1000, &got)) {
	case Input::data:
		break;
	case Input::end:
	case Input::idle:
		return 0;
	case Input::error:
		syslog(LOG_WARNING, "warning: read from the client: %s", std::strerror(errno));
		return 1;
	}
	Clock::time_point now = Clock::now();
	std::string_view start(first, got);
	if (netstring::starts(first[0])) {
		netstring::Reader reader(opt.limits.line_max);
		return converse(reader, start, now, opt, answer_lookups);
	}
	request::Reader reader(opt.limits);
	return converse(reader, start, now, opt, answer_requests);
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
