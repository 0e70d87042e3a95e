// SPDX-License-Identifier: ISC
// submit - running sendmail with a letter on its standard input (submit.h).
#include "submit.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>

namespace submit {

bool run(const std::string &sendmail, const std::vector<std::string> &args, std::string_view letter,
         std::string *why)
{
	std::vector<const char *> argv(args.size() + 2, nullptr); // the program, args, null
	argv[0] = sendmail.c_str();
	std::transform(args.begin(), args.end(), argv.begin() + 1,
	               [](const std::string &a) { return a.c_str(); });
	int pipefd[2];
	if (::pipe2(pipefd, O_CLOEXEC) != 0) {
		*why = std::string("pipe: ") + std::strerror(errno);
		return false;
	}
	pid_t pid = ::fork();
	if (pid < 0) {
		*why = std::string("fork: ") + std::strerror(errno);
		::close(pipefd[0]);
		::close(pipefd[1]);
		return false;
	}
	if (pid == 0) {
		std::signal(SIGPIPE, SIG_DFL);
		if (::dup2(pipefd[0], 0) < 0 || ::dup2(2, 1) < 0)
			::_exit(127);
		::execv(argv[0], const_cast<char *const *>(argv.data()));
		::_exit(127);
	}
	::close(pipefd[0]);
	// A write error (EPIPE: it stopped reading) leaves the verdict to its
	// exit status.
	while (!letter.empty()) {
		ssize_t n = ::write(pipefd[1], letter.data(), letter.size());
		if (n < 0) {
			if (errno == EINTR)
				continue;
			break;
		}
		letter.remove_prefix(static_cast<std::size_t>(n));
	}
	::close(pipefd[1]);
	int status = 0;
	while (::waitpid(pid, &status, 0) < 0) {
		if (errno != EINTR) {
			*why = std::string("waitpid: ") + std::strerror(errno);
			return false;
		}
	}
	if (WIFSIGNALED(status)) {
		*why = "killed by signal " + std::to_string(WTERMSIG(status));
		return false;
	}
	int code = WEXITSTATUS(status);
	if (code == 127) {
		*why = "could not be run (exit status 127)";
		return false;
	}
	if (code != 0) {
		*why = "exit status " + std::to_string(code);
		return false;
	}
	// Status 0 is the program's word that it took the letter, even if it
	// stopped reading early: counting it unsent could send it twice.
	return true;
}

} // namespace submit
