// SPDX-License-Identifier: ISC
// Unit tests of spoolwarn's SMTP submission: the targets it accepts, and
// whole exchanges with a scripted server on a loopback socket (a thread of
// the test), down to the bytes the server receives.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "smtp.h"

namespace {

// --- targets ------------------------------------------------------------------

struct TargetCase {
	const char *value;
	const char *host; // null: refused
	const char *port_or_error;
};

class Target : public testing::TestWithParam<TargetCase> {};

TEST_P(Target, Parse)
{
	const TargetCase &c = GetParam();
	smtp::Target t;
	std::string error;
	bool ok = smtp::parse(c.value, &t, &error);
	if (c.host == nullptr) {
		EXPECT_FALSE(ok) << c.value;
		EXPECT_EQ(error, c.port_or_error) << c.value;
		return;
	}
	ASSERT_TRUE(ok) << c.value << ": " << error;
	EXPECT_EQ(t.host, c.host) << c.value;
	EXPECT_EQ(t.port, c.port_or_error) << c.value;
}

const char bad_host[] = "HOST must be a host name or a numeric IPv4 or IPv6 address (with a "
                        "port, an IPv6 address in brackets: smtp:[::1]:25)";
const char bad_port[] = "PORT must be a whole number from 1 to 65535";

INSTANTIATE_TEST_SUITE_P(
    smtp, Target,
    testing::Values(
        TargetCase{"smtp:localhost", "localhost", "25"},
        TargetCase{"smtp:mail.example.org:587", "mail.example.org", "587"},
        TargetCase{"smtp:127.0.0.1", "127.0.0.1", "25"},
        TargetCase{"smtp:127.0.0.1:2525", "127.0.0.1", "2525"},
        TargetCase{"smtp:[127.0.0.1]:25", "127.0.0.1", "25"},
        TargetCase{"smtp:[mail.example.org]", "mail.example.org", "25"},
        TargetCase{"smtp:[::1]:2525", "::1", "2525"}, TargetCase{"smtp:[::1]", "::1", "25"},
        TargetCase{"smtp:::1", "::1", "25"}, TargetCase{"smtp:2001:db8::25", "2001:db8::25", "25"},
        TargetCase{"smtp:host:65535", "host", "65535"}, TargetCase{"smtp:", nullptr, "no HOST"},
        TargetCase{"smtp::25", nullptr, "no HOST"}, TargetCase{"smtp:[]:25", nullptr, "no HOST"},
        TargetCase{"smtp:host:", nullptr, "no PORT after ':'"},
        TargetCase{"smtp:[::1]:", nullptr, "no PORT after ':'"},
        TargetCase{"smtp:[::1", nullptr, "a '[' without its ']'"},
        TargetCase{"smtp:[::1]25", nullptr, "only :PORT may follow ']'"},
        TargetCase{"smtp:host:0", nullptr, bad_port},
        TargetCase{"smtp:host:65536", nullptr, bad_port},
        TargetCase{"smtp:host:+25", nullptr, bad_port},
        TargetCase{"smtp:host:25x", nullptr, bad_port}, TargetCase{"smtp:::1:x", nullptr, bad_host},
        TargetCase{"smtp:host:25:26", nullptr, bad_host},
        TargetCase{"smtp:-host", nullptr, bad_host}, TargetCase{"smtp:a b", nullptr, bad_host},
        TargetCase{"smtp:a/b:25", nullptr, bad_host}, TargetCase{"smtp:[a\nb]", nullptr, bad_host},
        TargetCase{"/usr/sbin/sendmail", nullptr, "not of the form smtp:HOST[:PORT]"}),
    [](const auto &p) { return "case" + std::to_string(p.index); });

// --- exchanges ----------------------------------------------------------------

enum class Server {
	scripted, // the replies in turn (the greeting, then one per command),
	          // then it hangs up
	silent,   // takes the connection and never answers
	trickle,  // the greeting, one byte every half second
	none,     // nothing listens
};

// A server on 127.0.0.1 that takes one connection and plays its part;
// what it received is in received() once the client has closed.
class Fake {
public:
	Fake(Server mode, std::vector<std::string> replies)
	    : mode_(mode), replies_(std::move(replies))
	{
		fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
		sockaddr_in a = {};
		a.sin_family = AF_INET;
		a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
		socklen_t len = sizeof a;
		if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr *>(&a), len) != 0 ||
		    ::getsockname(fd_, reinterpret_cast<sockaddr *>(&a), &len) != 0)
			return;
		port_ = ntohs(a.sin_port);
		if (mode_ == Server::none) {
			::close(fd_); // the port stays free: a connection is refused
			fd_ = -1;
			return;
		}
		if (::listen(fd_, 1) == 0)
			thread_ = std::thread([this] { serve(); });
	}
	~Fake()
	{
		if (thread_.joinable())
			thread_.join();
		if (fd_ >= 0)
			::close(fd_);
	}
	unsigned short port() const { return port_; }
	// The bytes received, once the exchange is over.
	const std::string &received()
	{
		if (thread_.joinable())
			thread_.join();
		return received_;
	}

private:
	bool put(int c, const std::string &reply)
	{
		if (mode_ != Server::trickle)
			return ::send(c, reply.data(), reply.size(), MSG_NOSIGNAL) ==
			       static_cast<ssize_t>(reply.size());
		for (char byte : reply) {
			if (::send(c, &byte, 1, MSG_NOSIGNAL) != 1)
				return false;
			std::this_thread::sleep_for(std::chrono::milliseconds(500));
		}
		return true;
	}

	void serve()
	{
		pollfd p = {fd_, POLLIN, 0};
		if (::poll(&p, 1, 10000) != 1)
			return;
		int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
		if (c < 0)
			return;
		std::size_t next = 0;
		bool in_data = false, answering = mode_ != Server::silent;
		if (answering && !replies_.empty())
			answering = put(c, replies_[next++]);
		// One reply per command line, and one for the letter after a 354.
		std::size_t seen = 0;
		// A scripted server hangs up after its last reply.
		while (mode_ != Server::scripted || next < replies_.size()) {
			pollfd q = {c, POLLIN, 0};
			char buf[4096];
			ssize_t n = ::poll(&q, 1, 10000) == 1 ? ::recv(c, buf, sizeof buf, 0) : -1;
			if (n <= 0)
				break;
			received_.append(buf, static_cast<std::size_t>(n));
			for (;;) {
				std::string_view end = in_data ? "\r\n.\r\n" : "\r\n";
				std::size_t at = received_.find(end, seen);
				if (at == std::string::npos)
					break;
				seen = at + end.size();
				in_data = false;
				if (answering && next < replies_.size()) {
					const std::string &r = replies_[next++];
					in_data = r.starts_with("354");
					answering = put(c, r);
				}
			}
		}
		// Hang up cleanly: what the client sends meanwhile is read, so
		// the close never turns into a reset.
		::shutdown(c, SHUT_WR);
		pollfd q = {c, POLLIN, 0};
		char buf[4096];
		while (::poll(&q, 1, 2000) == 1 && ::recv(c, buf, sizeof buf, 0) > 0) {
		}
		::close(c);
	}

	Server mode_;
	std::vector<std::string> replies_;
	int fd_ = -1;
	unsigned short port_ = 0;
	std::thread thread_;
	std::string received_;
};

struct ExchangeCase {
	const char *what;
	Server mode;
	std::vector<std::string> replies;
	smtp::Answer answer;
	const char *why;      // exactly, or its start when it ends in "..."
	const char *received; // null: not checked
};

class Exchange : public testing::TestWithParam<ExchangeCase> {};

const char letter[] = "Subject: hi\n\n.hidden\nline\n..two\r\n.\nlast";

TEST_P(Exchange, Run)
{
	const ExchangeCase &c = GetParam();
	Fake server(c.mode, c.replies);
	ASSERT_NE(server.port(), 0);
	smtp::Target t{"127.0.0.1", std::to_string(server.port())};
	std::string why = "unset";
	auto start = std::chrono::steady_clock::now();
	smtp::Answer answer =
	    smtp::send(t, "mx.example.org", "alice@mx.example.org", letter, 1, &why);
	std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
	EXPECT_EQ(answer, c.answer) << c.what;
	std::string_view want = c.why;
	if (want.ends_with("...")) {
		EXPECT_TRUE(why.starts_with(want.substr(0, want.size() - 3)))
		    << c.what << ": " << why;
	} else {
		EXPECT_EQ(why, want) << c.what;
	}
	EXPECT_LT(took.count(), 1.5) << c.what << ": the deadline was 1 s";
	if (c.received != nullptr) {
		EXPECT_EQ(server.received(), c.received) << c.what;
	}
}

const std::string greeting = "220 fake ESMTP\r\n";

INSTANTIATE_TEST_SUITE_P(
    smtp, Exchange,
    testing::Values(
        ExchangeCase{"taken: a multi-line EHLO reply, dot-stuffing, CRLF, the null sender",
                     Server::scripted,
                     {greeting, "250-fake\r\n250-PIPELINING\r\n250 8BITMIME\r\n",
                      "250 2.1.0 Ok\r\n", "250 2.1.5 Ok\r\n", "354 go on\r\n",
                      "250 2.0.0 queued\r\n", "221 bye\r\n"},
                     smtp::Answer::sent,
                     "",
                     "EHLO mx.example.org\r\nMAIL FROM:<>\r\nRCPT TO:<alice@mx.example.org>\r\n"
                     "DATA\r\nSubject: hi\r\n\r\n..hidden\r\nline\r\n...two\r\n..\r\nlast\r\n"
                     ".\r\nQUIT\r\n"},
        ExchangeCase{"EHLO refused: HELO",
                     Server::scripted,
                     {greeting, "502 5.5.2 what\r\n", "250 fake\r\n", "250 Ok\r\n", "250 Ok\r\n",
                      "354 go on\r\n", "250 queued\r\n", "221 bye\r\n"},
                     smtp::Answer::sent,
                     "",
                     "EHLO mx.example.org\r\nHELO mx.example.org\r\nMAIL FROM:<>\r\n"
                     "RCPT TO:<alice@mx.example.org>\r\nDATA\r\nSubject: hi\r\n\r\n"
                     "..hidden\r\nline\r\n...two\r\n..\r\nlast\r\n.\r\nQUIT\r\n"},
        ExchangeCase{"the recipient refused",
                     Server::scripted,
                     {greeting, "250 fake\r\n", "250 Ok\r\n",
                      "550 5.1.1 <alice@mx.example.org>: no \x1b[1msuch\x7f user\r\n",
                      "221 bye\r\n"},
                     smtp::Answer::refused,
                     "RCPT TO: 550 5.1.1 <alice@mx.example.org>: no ?[1msuch? user",
                     "EHLO mx.example.org\r\nMAIL FROM:<>\r\nRCPT TO:<alice@mx.example.org>\r\n"
                     "QUIT\r\n"},
        ExchangeCase{"the greeting turns away",
                     Server::scripted,
                     {"421 4.3.2 busy\r\n"},
                     smtp::Answer::not_sent,
                     "greeting: 421 4.3.2 busy",
                     ""},
        ExchangeCase{"the letter refused for now after the dot",
                     Server::scripted,
                     {greeting, "250 fake\r\n", "250 Ok\r\n", "250 Ok\r\n", "354 go on\r\n",
                      "451-4.3.0 try\r\n451 4.3.0 later\r\n"},
                     smtp::Answer::not_sent,
                     "end of data: 451 4.3.0 try 4.3.0 later",
                     nullptr},
        ExchangeCase{"the letter refused for good after the dot",
                     Server::scripted,
                     {greeting, "250 fake\r\n", "250 Ok\r\n", "250 Ok\r\n", "354 go on\r\n",
                      "554 5.6.0 no\r\n", "221 bye\r\n"},
                     smtp::Answer::refused,
                     "end of data: 554 5.6.0 no",
                     nullptr},
        ExchangeCase{"a malformed reply",
                     Server::scripted,
                     {greeting, "250-fake\r\n220 x\r\n"},
                     smtp::Answer::not_sent,
                     "EHLO: a malformed reply: 220 x",
                     nullptr},
        ExchangeCase{"the connection closed",
                     Server::scripted,
                     {greeting, "250 fake\r\n"},
                     smtp::Answer::not_sent,
                     "MAIL FROM: the server closed the connection",
                     nullptr},
        ExchangeCase{"a server that never answers",
                     Server::silent,
                     {},
                     smtp::Answer::not_sent,
                     "greeting: no answer within the deadline of 1 s",
                     ""},
        ExchangeCase{"a server that trickles",
                     Server::trickle,
                     {"220 a greeting one byte at a time\r\n"},
                     smtp::Answer::not_sent,
                     "greeting: no answer within the deadline of 1 s",
                     ""},
        ExchangeCase{"nothing listens",
                     Server::none,
                     {},
                     smtp::Answer::not_sent,
                     "connect to 127.0.0.1 port ...",
                     nullptr}),
    [](const auto &p) { return "case" + std::to_string(p.index); });

} // namespace
