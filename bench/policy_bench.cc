// SPDX-License-Identifier: ISC
// policy_bench - boxpolicy's answers per second on one connection, and its
// memory.
//
// Usage: policy_bench [-s] SECONDS ACCOUNTS -- PROGRAM [ARG...]
// Starts PROGRAM (boxpolicy) with its standard input and output on one end
// of a Unix stream socket pair, as spawn(8) hands it its client, and asks
// on the other end as Postfix's SMTP server does: one RCPT request with the
// attributes Postfix 3.7 sends, then wait for the answer, then the next.
// The recipients are user<K>@example.org, K walking over 1..ACCOUNTS in a
// scattered order. With -s it asks as Postfix's local(8) does instead: one
// socketmap lookup of the table boxquota for user<K> at a time. After 2,000
// uncounted requests it reads the program's private memory
// (/proc/PID/smaps_rollup: Private_Dirty, the process's own pages, and
// Private_Clean, mostly pages of the database file that no other process
// has mapped, shared with every reader through the page cache), then asks
// for SECONDS, then reads its peak resident set (VmHWM) before closing the
// connection.
//
// Output: one line: requests, seconds, requests per second, refusals
// (answers other than DUNNO or NOTFOUND), peak RSS, private dirty and
// private clean memory, in KiB. Exit: 0; 1 when the program
// closed the connection or did not exit 0; 64 usage; 71 when it cannot be
// started. Single-threaded.
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <sysexits.h>
#include <vector>

extern char **environ;

namespace {

// The attributes of a Postfix 3.7 RCPT request but the recipient.
const char head[] = "request=smtpd_access_policy\n"
                    "protocol_state=RCPT\n"
                    "protocol_name=ESMTP\n"
                    "client_address=192.0.2.7\n"
                    "client_name=client.example.net\n"
                    "client_port=40312\n"
                    "reverse_client_name=client.example.net\n"
                    "server_address=192.0.2.25\n"
                    "server_port=25\n"
                    "helo_name=client.example.net\n"
                    "sender=sender@example.net\n"
                    "recipient_count=0\n"
                    "queue_id=\n"
                    "instance=1d5.6757a0a4.8c2a0.0\n"
                    "size=4000\n"
                    "etrn_domain=\n"
                    "stress=\n"
                    "sasl_method=\n"
                    "sasl_username=\n"
                    "sasl_sender=\n"
                    "ccert_subject=\n"
                    "ccert_issuer=\n"
                    "ccert_fingerprint=\n"
                    "ccert_pubkey_fingerprint=\n"
                    "encryption_protocol=TLSv1.3\n"
                    "encryption_cipher=TLS_AES_256_GCM_SHA384\n"
                    "encryption_keysize=256\n"
                    "policy_context=\n"
                    "compatibility_level=3.6\n"
                    "mail_version=3.7.11\n";

bool write_all(int fd, const std::string &s)
{
	std::size_t done = 0;
	while (done < s.size()) {
		ssize_t n = ::write(fd, s.data() + done, s.size() - done);
		if (n <= 0)
			return false;
		done += static_cast<std::size_t>(n);
	}
	return true;
}

// One request for account k; true when answered, *refused when not DUNNO.
bool ask(int fd, long k, bool *refused)
{
	std::string req = head;
	req += "recipient=user" + std::to_string(k) + "@example.org\n\n";
	if (!write_all(fd, req))
		return false;
	char buf[512];
	std::size_t got = 0;
	while (got < 2 || buf[got - 1] != '\n' || buf[got - 2] != '\n') {
		if (got == sizeof buf)
			return false;
		ssize_t n = ::read(fd, buf + got, sizeof buf - got);
		if (n <= 0)
			return false;
		got += static_cast<std::size_t>(n);
	}
	*refused = std::strncmp(buf, "action=DUNNO\n", 13) != 0;
	return true;
}

// One lookup for account k; true when answered, *refused when not NOTFOUND.
bool look_up(int fd, long k, bool *refused)
{
	std::string key = "boxquota user" + std::to_string(k);
	if (!write_all(fd, std::to_string(key.size()) + ":" + key + ","))
		return false;
	char buf[512];
	std::size_t got = 0, want = 0;
	while (want == 0 || got < want) {
		if (got == sizeof buf)
			return false;
		ssize_t n = ::read(fd, buf + got, sizeof buf - got);
		if (n <= 0)
			return false;
		got += static_cast<std::size_t>(n);
		if (const void *colon = std::memchr(buf, ':', got); want == 0 && colon != nullptr) {
			std::size_t at =
			    static_cast<std::size_t>(static_cast<const char *>(colon) - buf);
			want = at + 2 + std::strtoul(buf, nullptr, 10);
		}
	}
	*refused = std::strncmp(std::strchr(buf, ':') + 1, "NOTFOUND ", 9) != 0;
	return true;
}

long peak_kib(pid_t pid)
{
	std::ifstream status("/proc/" + std::to_string(pid) + "/status");
	std::string line;
	while (std::getline(status, line))
		if (line.rfind("VmHWM:", 0) == 0)
			return std::strtol(line.c_str() + 6, nullptr, 10);
	return -1;
}

// The KiB of field ("Private_Dirty:") in smaps_rollup; -1 when not there.
long rollup_kib(pid_t pid, const std::string &field)
{
	std::ifstream rollup("/proc/" + std::to_string(pid) + "/smaps_rollup");
	std::string line;
	while (std::getline(rollup, line))
		if (line.rfind(field, 0) == 0)
			return std::strtol(line.c_str() + field.size(), nullptr, 10);
	return -1;
}

} // namespace

int main(int argc, char *argv[])
{
	bool lookups = argc > 1 && std::strcmp(argv[1], "-s") == 0;
	if (lookups) {
		argv++;
		argc--;
	}
	if (argc < 5 || std::strcmp(argv[3], "--") != 0) {
		std::fputs("usage: policy_bench [-s] SECONDS ACCOUNTS -- PROGRAM [ARG...]\n",
		           stderr);
		return EX_USAGE;
	}
	auto ask_one = lookups ? look_up : ask;
	double seconds = std::strtod(argv[1], nullptr);
	long accounts = std::strtol(argv[2], nullptr, 10);
	if (seconds <= 0 || accounts <= 0) {
		std::fputs("policy_bench: SECONDS and ACCOUNTS must be positive\n", stderr);
		return EX_USAGE;
	}
	int sv[2];
	if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) {
		std::perror("policy_bench: socketpair");
		return EX_OSERR;
	}
	::signal(SIGPIPE, SIG_IGN);
	posix_spawn_file_actions_t fa;
	posix_spawn_file_actions_init(&fa);
	posix_spawn_file_actions_adddup2(&fa, sv[1], 0);
	posix_spawn_file_actions_adddup2(&fa, sv[1], 1);
	pid_t pid;
	int err = posix_spawn(&pid, argv[4], &fa, nullptr, argv + 4, environ);
	posix_spawn_file_actions_destroy(&fa);
	::close(sv[1]);
	if (err != 0) {
		std::fprintf(stderr, "policy_bench: %s: %s\n", argv[4], std::strerror(err));
		return EX_OSERR;
	}

	// A stride prime to any account count of ours scatters the lookups.
	const long stride = 7919;
	long k = 0, refusals = 0, requests = 0;
	bool refused = false, ok = true;
	for (int i = 0; ok && i < 2000; i++) {
		k = (k + stride) % accounts;
		ok = ask_one(sv[0], k + 1, &refused);
	}
	long dirty = rollup_kib(pid, "Private_Dirty:");
	long clean = rollup_kib(pid, "Private_Clean:");
	auto t0 = std::chrono::steady_clock::now();
	double elapsed = 0;
	while (ok && elapsed < seconds) {
		for (int i = 0; ok && i < 100; i++) {
			k = (k + stride) % accounts;
			ok = ask_one(sv[0], k + 1, &refused);
			requests += ok;
			refusals += ok && refused;
		}
		elapsed =
		    std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
	}
	long peak = peak_kib(pid);
	::close(sv[0]);
	int status = 0;
	::waitpid(pid, &status, 0);
	std::printf("%ld requests  %.2f s  %.0f requests/s  %ld refused  peak RSS %ld KiB  "
	            "private dirty %ld KiB clean %ld KiB\n",
	            requests, elapsed, static_cast<double>(requests) / elapsed, refusals, peak,
	            dirty, clean);
	if (!ok || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
		std::fprintf(stderr, "policy_bench: %s: connection lost or exit status %d\n",
		             argv[4], status);
		return 1;
	}
	return 0;
}
