// SPDX-License-Identifier: ISC
// proc_bench - whole-process wall time and peak memory of commands.
//
// Usage: proc_bench RUNS -- LABEL PROGRAM [ARG...] [-- LABEL PROGRAM [ARG...]]...
// Runs every command RUNS times, taking turns (so that a noisy moment falls
// on all of them alike), after two uncounted runs each. PROGRAM is a path;
// it runs with standard input, output and error on /dev/null. Wall time
// covers spawning, running and reaping the process. The peak memory is the
// largest resident set size the process reached (VmHWM), read from /proc in
// three further runs, each stopped for a moment as it exits: the figure the
// kernel reports to the parent would count the spawning process's own memory
// from before the exec.
//
// Output: one line per command: label, median and lowest wall time in
// milliseconds, peak RSS in KiB, and the median over the first command's.
// Exit: 0; 1 when any run did not exit 0 (its label says so); 64 usage;
// 71 when a program cannot be started ("proc_bench: PROGRAM: reason").
// Reads /proc/PID/status of its own children only. Single-threaded.
#include <fcntl.h>
#include <spawn.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
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

struct Command {
	std::string label;
	std::vector<char *> argv; // null-terminated
	std::vector<double> ms;
	long peak_kib = 0;
	int bad_status = 0; // a status other than exit 0, if any
};

// One run: false when the program cannot be started.
bool run(Command &c, bool counted)
{
	posix_spawn_file_actions_t fa;
	posix_spawn_file_actions_init(&fa);
	for (int fd = 0; fd <= 2; fd++)
		posix_spawn_file_actions_addopen(&fa, fd, "/dev/null",
		                                 fd == 0 ? O_RDONLY : O_WRONLY, 0);
	auto t0 = std::chrono::steady_clock::now();
	pid_t pid;
	int err = posix_spawn(&pid, c.argv[0], &fa, nullptr, c.argv.data(), environ);
	posix_spawn_file_actions_destroy(&fa);
	if (err != 0) {
		std::fprintf(stderr, "proc_bench: %s: %s\n", c.argv[0], std::strerror(err));
		return false;
	}
	int status = 0;
	while (::waitpid(pid, &status, 0) < 0 && errno == EINTR)
		;
	auto t1 = std::chrono::steady_clock::now();
	if (!(WIFEXITED(status) && WEXITSTATUS(status) == 0))
		c.bad_status = status == 0 ? -1 : status;
	if (counted)
		c.ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
	return true;
}

// The high-water mark of the resident set of process pid, in KiB; -1 if
// it cannot be read.
long vm_hwm(pid_t pid)
{
	std::ifstream status("/proc/" + std::to_string(pid) + "/status");
	std::string key;
	long kib;
	while (status >> key)
		if (key == "VmHWM:" && status >> kib)
			return kib;
	return -1;
}

// One run under ptrace, stopped at its exit to read its peak memory.
void measure_peak(Command &c)
{
	pid_t pid = ::fork();
	if (pid < 0)
		return;
	if (pid == 0) {
		int null = ::open("/dev/null", O_RDWR);
		for (int fd = 0; fd <= 2; fd++)
			::dup2(null, fd);
		::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
		::execv(c.argv[0], c.argv.data());
		::_exit(127);
	}
	int status = 0;
	bool first = true;
	while (::waitpid(pid, &status, 0) == pid && WIFSTOPPED(status)) {
		int sig = WSTOPSIG(status);
		if (first) { // the stop after the exec
			::ptrace(PTRACE_SETOPTIONS, pid, nullptr, PTRACE_O_TRACEEXIT);
			first = false;
			sig = 0;
		} else if (sig == SIGTRAP && status >> 16 == PTRACE_EVENT_EXIT) {
			c.peak_kib = std::max(c.peak_kib, vm_hwm(pid));
			sig = 0;
		}
		::ptrace(PTRACE_CONT, pid, nullptr, sig);
	}
}

double median(std::vector<double> v)
{
	std::sort(v.begin(), v.end());
	std::size_t n = v.size();
	return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

} // namespace

int main(int argc, char **argv)
{
	int runs = argc > 1 ? std::atoi(argv[1]) : 0;
	std::vector<Command> commands;
	for (int i = 2; i < argc; i++) {
		if (std::strcmp(argv[i], "--") == 0) {
			commands.emplace_back();
			continue;
		}
		if (commands.empty())
			break;
		Command &c = commands.back();
		if (c.label.empty())
			c.label = argv[i];
		else
			c.argv.push_back(argv[i]);
	}
	bool usable = runs > 0 && !commands.empty();
	for (Command &c : commands) {
		usable = usable && !c.argv.empty();
		c.argv.push_back(nullptr);
	}
	if (!usable) {
		std::fprintf(stderr, "usage: proc_bench RUNS -- LABEL PROGRAM [ARG...] [-- ...]\n");
		return EX_USAGE;
	}

	for (int r = 0; r < runs + 2; r++)
		for (Command &c : commands)
			if (!run(c, r >= 2))
				return EX_OSERR;

	for (int r = 0; r < 3; r++)
		for (Command &c : commands)
			measure_peak(c);

	int status = 0;
	double base = median(commands.front().ms);
	std::printf("%-28s %10s %10s %14s %12s\n", "process", "median ms", "lowest ms",
	            "peak RSS KiB", "time/first");
	for (const Command &c : commands) {
		double m = median(c.ms);
		std::printf("%-28s %10.3f %10.3f %14ld %12.2f%s\n", c.label.c_str(), m,
		            *std::min_element(c.ms.begin(), c.ms.end()), c.peak_kib, m / base,
		            c.bad_status != 0 ? "  (a run failed)" : "");
		if (c.bad_status != 0)
			status = 1;
	}
	return status;
}
