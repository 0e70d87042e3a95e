// SPDX-License-Identifier: ISC
// time_bound.h - runs a part of a test in a child process under a time
// bound, so that a call that would wait for ever fails its test instead of
// stopping the whole suite.
#ifndef TESTS_TIME_BOUND_H
#define TESTS_TIME_BOUND_H

#include <sys/wait.h>
#include <unistd.h>

#include <functional>

// Runs f in a child that is killed after seconds. f's result (0 to 255) as
// the child's exit status, or -1 when the child was killed (it hung) or
// crashed, -2 when it could not be run.
inline int within(unsigned seconds, const std::function<int()> &f)
{
	pid_t child = ::fork();
	if (child < 0)
		return -2;
	if (child == 0) {
		::alarm(seconds);
		::_exit(f());
	}
	int status = 0;
	if (::waitpid(child, &status, 0) != child)
		return -2;
	return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

#endif
