// SPDX-License-Identifier: ISC
// submit - running sendmail with a letter on its standard input, within a
// deadline (submit.h).
//
// The program is started with posix_spawn(3), which shares our memory until
// the exec instead of copying its page tables as fork(2) would: starting
// it costs the same however many logins the run holds in memory. The wait
// is a poll(2) on the pipe and on a pidfd of the child (on a kernel without
// pidfds, the same poll wakes every 50 ms to look); times are taken from
// CLOCK_MONOTONIC.
#include "submit.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <sysexits.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>

namespace submit {
namespace {

long long now_ms()
{
	timespec ts = {};
	::clock_gettime(CLOCK_MONOTONIC, &ts);
	return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// A descriptor that polls readable once the child has exited, or -1.
int child_fd(pid_t pid)
{
	return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

// Whether the child has exited (it stays a zombie: its pid, and so its
// process group's id, cannot be taken by another process meanwhile).
bool exited(pid_t pid)
{
	siginfo_t info = {};
	return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
	       info.si_pid == pid;
}

// Waits until the child has exited or the time is up; whether it exited.
bool wait_exit(pid_t pid, int pidfd, long long until)
{
	while (!exited(pid)) {
		long long left = until - now_ms();
		if (left <= 0)
			return false;
		pollfd p = {pidfd, POLLIN, 0}; // -1: only a pause
		int timeout = static_cast<int>(left < 50 || pidfd >= 0 ? left : 50);
		::poll(&p, 1, timeout);
	}
	return true;
}

// Writes the letter to fd (non-blocking) until it is all written, the
// reader is gone, or the time is up.
void feed(int fd, std::string_view letter, long long until)
{
	while (!letter.empty()) {
		long long left = until - now_ms();
		if (left <= 0)
			return;
		pollfd p = {fd, POLLOUT, 0};
		if (::poll(&p, 1, static_cast<int>(left)) < 0 && errno != EINTR)
			return;
		ssize_t n = ::write(fd, letter.data(), letter.size());
		if (n < 0) {
			if (errno == EINTR || errno == EAGAIN)
				continue;
			return; // EPIPE: it stopped reading; its exit status decides
		}
		letter.remove_prefix(static_cast<std::size_t>(n));
	}
}

} // namespace

Result run(const std::string &sendmail, const std::vector<std::string> &args,
           std::string_view letter, int deadline, std::string *why)
{
	std::vector<const char *> argv(args.size() + 2, nullptr); // the program, args, null
	argv[0] = sendmail.c_str();
	std::transform(args.begin(), args.end(), argv.begin() + 1,
	               [](const std::string &a) { return a.c_str(); });
	long long until = now_ms() + static_cast<long long>(deadline) * 1000;
	int pipefd[2];
	if (::pipe2(pipefd, O_CLOEXEC) != 0) {
		*why = std::string("pipe: ") + std::strerror(errno);
		return Result::failed;
	}
	// Its standard input the pipe, its output our standard error, SIGPIPE
	// at its default, in a process group of its own.
	posix_spawn_file_actions_t files;
	posix_spawnattr_t attr;
	sigset_t pipe_signal;
	sigemptyset(&pipe_signal);
	sigaddset(&pipe_signal, SIGPIPE);
	posix_spawn_file_actions_init(&files);
	posix_spawn_file_actions_adddup2(&files, pipefd[0], 0);
	posix_spawn_file_actions_adddup2(&files, 2, 1);
	posix_spawnattr_init(&attr);
	posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF);
	posix_spawnattr_setpgroup(&attr, 0);
	posix_spawnattr_setsigdefault(&attr, &pipe_signal);
	pid_t pid = -1;
	int err = ::posix_spawn(&pid, argv[0], &files, &attr,
	                        const_cast<char *const *>(argv.data()), environ);
	posix_spawn_file_actions_destroy(&files);
	posix_spawnattr_destroy(&attr);
	::close(pipefd[0]);
	if (err != 0) {
		*why = std::string("could not be run: ") + std::strerror(err);
		::close(pipefd[1]);
		return Result::failed;
	}
	int pidfd = child_fd(pid);
	::fcntl(pipefd[1], F_SETFL, O_NONBLOCK);
	feed(pipefd[1], letter, until);
	::close(pipefd[1]);
	bool late = !wait_exit(pid, pidfd, until);
	if (late) {
		::kill(-pid, SIGTERM);
		wait_exit(pid, pidfd, now_ms() + grace * 1000LL);
		// The rest of the group too, whether or not the first one is gone.
		::kill(-pid, SIGKILL);
	}
	if (pidfd >= 0)
		::close(pidfd);
	int status = 0;
	while (::waitpid(pid, &status, 0) < 0) {
		if (errno != EINTR) {
			*why = std::string("waitpid: ") + std::strerror(errno);
			return Result::failed;
		}
	}
	if (late) {
		*why = "no answer within " + std::to_string(deadline) + " s: stopped";
		return Result::late;
	}
	if (WIFSIGNALED(status)) {
		*why = "killed by signal " + std::to_string(WTERMSIG(status));
		return Result::failed;
	}
	int code = WEXITSTATUS(status);
	if (code == 127) {
		*why = "could not be run (exit status 127)";
		return Result::failed;
	}
	if (code != 0) {
		*why = "exit status " + std::to_string(code);
		return code == EX_DATAERR || code == EX_NOUSER ? Result::refused : Result::failed;
	}
	// Status 0 is the program's word that it took the letter, even if it
	// stopped reading early: counting it unsent could send it twice.
	return Result::sent;
}

} // namespace submit
