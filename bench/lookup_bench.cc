// SPDX-License-Identifier: ISC
// lookup_bench - in-process timings of one account lookup, side by side.
//
// Usage: lookup_bench DATA N... [benchmark options]
// For each N, DATA/N/flat/passwd is a password file of N accounts whose
// last account has uid 10000 + N and name userN, and DATA/N/db/passwd is the
// same file with its hashed database beside it. Each N gets:
//   floor/N      read() of the whole file into a 256 KiB buffer
//   flat_uid/N   account::getpwuid of the last account, flat file
//   flat_name/N  account::getpwnam of the last account, flat file
//   libc_uid/N   the C library's getpwuid of the same account, reading the
//                same file as /etc/passwd through its "files" source
//   db_uid/N     account::getpwuid of the last account, hashed database
// After the runs a table gives the medians (or the single run) and their
// ratios, all from this one process.
//
// The C library's lookup needs the file at /etc/passwd: as root the program
// moves into a private mount namespace of its own at start and binds each
// file over /etc/passwd there; the host's file is never touched. Without
// root those runs are reported as skipped. As root, the timed loops run with
// effective uid 65534, as an ordinary caller would (and so without the
// privileged password retrieval).
//
// Diagnostics: "lookup_bench: reason" on standard error; exit 64 on bad
// usage, 1 when a lookup fails to find its account. Reads only the files
// under DATA. Single-threaded: the namespace and the effective uid it
// changes belong to the whole process.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <pwd.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <sysexits.h>
#include <vector>

#include "getpwent.h"

namespace {

constexpr uid_t first_uid = 10000;
constexpr uid_t caller = 65534; // effective uid of the timed loops, as root
bool in_namespace = false;
bool lookup_failed = false;

// Runs the timed part as an ordinary user when the process is root.
class AsCaller {
	bool switched = false;

public:
	AsCaller()
	{
		if (::geteuid() == 0)
			switched = ::seteuid(caller) == 0;
	}
	~AsCaller()
	{
		if (switched && ::seteuid(0) != 0)
			std::abort();
	}
};

bool enter_namespace()
{
	if (::geteuid() != 0 || ::unshare(CLONE_NEWNS) != 0)
		return false;
	return ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

// Binds file over /etc/passwd (inside the private namespace only).
bool bind_passwd(const std::string &file)
{
	static bool bound = false;
	if (bound)
		::umount2("/etc/passwd", MNT_DETACH);
	bound = ::mount(file.c_str(), "/etc/passwd", nullptr, MS_BIND, nullptr) == 0;
	return bound;
}

void found(benchmark::State &state, const passwd *pw, uid_t uid)
{
	if (pw == nullptr || pw->pw_uid != uid) {
		lookup_failed = true;
		state.SkipWithError("the account was not found");
	}
}

void floor_read(benchmark::State &state, std::string file)
{
	static char buf[256 * 1024];
	AsCaller as;
	for (auto _ : state) {
		int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
		ssize_t got, total = 0;
		while ((got = ::read(fd, buf, sizeof buf)) > 0)
			total += got;
		::close(fd);
		benchmark::DoNotOptimize(total);
	}
}

void ours_uid(benchmark::State &state, std::string file, uid_t uid)
{
	account::setpwfile(file.c_str());
	AsCaller as;
	for (auto _ : state) {
		passwd *pw = account::getpwuid(uid);
		benchmark::DoNotOptimize(pw);
		found(state, pw, uid);
	}
	account::setpwfile("/etc/passwd");
}

void ours_name(benchmark::State &state, std::string file, std::string name, uid_t uid)
{
	account::setpwfile(file.c_str());
	AsCaller as;
	for (auto _ : state) {
		passwd *pw = account::getpwnam(name.c_str());
		benchmark::DoNotOptimize(pw);
		found(state, pw, uid);
	}
	account::setpwfile("/etc/passwd");
}

void libc_uid(benchmark::State &state, std::string file, uid_t uid)
{
	if (!in_namespace) {
		state.SkipWithError("needs root for a private mount namespace");
		return;
	}
	if (!bind_passwd(file)) {
		state.SkipWithError("cannot bind the file over /etc/passwd");
		return;
	}
	AsCaller as;
	for (auto _ : state) {
		passwd *pw = ::getpwuid(uid);
		benchmark::DoNotOptimize(pw);
		found(state, pw, uid);
	}
}

// Keeps the figure of each run (the median when repeated) for the table.
class Collector : public benchmark::ConsoleReporter {
public:
	Collector() : ConsoleReporter(OO_Tabular) {}

	std::map<std::string, double> us; // run name -> microseconds
	std::map<std::string, std::string> error;

	void ReportRuns(const std::vector<Run> &runs) override
	{
		ConsoleReporter::ReportRuns(runs);
		for (const Run &r : runs) {
			std::string name = r.run_name.function_name;
			if (r.error_occurred) {
				error[name] = r.error_message;
				continue;
			}
			// A single run stands for itself until a median comes.
			bool median =
			    r.run_type == Run::RT_Aggregate && r.aggregate_name == "median";
			if (median || (r.run_type == Run::RT_Iteration && us.count(name) == 0))
				us[name] =
				    r.GetAdjustedRealTime() *
				    benchmark::GetTimeUnitMultiplier(benchmark::kMicrosecond) /
				    benchmark::GetTimeUnitMultiplier(r.time_unit);
		}
	}
};

std::string cell(const Collector &c, const std::string &name)
{
	char s[32];
	auto it = c.us.find(name);
	if (it == c.us.end())
		return "n/a";
	std::snprintf(s, sizeof s, "%.1f", it->second);
	return s;
}

std::string ratio(const Collector &c, const std::string &a, const std::string &b)
{
	char s[32];
	auto x = c.us.find(a), y = c.us.find(b);
	if (x == c.us.end() || y == c.us.end() || y->second <= 0)
		return "n/a";
	std::snprintf(s, sizeof s, "%.2f", x->second / y->second);
	return s;
}

void table(const Collector &c, const std::vector<std::string> &sizes)
{
	std::printf("\nLookup of the last account, microseconds (median of the repetitions):\n");
	std::printf("%10s %12s %12s %12s %14s %12s\n", "accounts", "read floor", "flat uid",
	            "flat name", "C lib flat", "db uid");
	for (const std::string &n : sizes)
		std::printf("%10s %12s %12s %12s %14s %12s\n", n.c_str(),
		            cell(c, "floor/" + n).c_str(), cell(c, "flat_uid/" + n).c_str(),
		            cell(c, "flat_name/" + n).c_str(), cell(c, "libc_uid/" + n).c_str(),
		            cell(c, "db_uid/" + n).c_str());
	std::printf("\nRatios from this run (flat: ours on the flat file; C lib: the C library's"
	            " flat scan):\n");
	std::printf("%10s %12s %12s %14s %14s %14s\n", "accounts", "flat/floor", "name/floor",
	            "C lib/flat", "C lib/db", ("db/db " + sizes.front()).c_str());
	for (const std::string &n : sizes)
		std::printf("%10s %12s %12s %14s %14s %14s\n", n.c_str(),
		            ratio(c, "flat_uid/" + n, "floor/" + n).c_str(),
		            ratio(c, "flat_name/" + n, "floor/" + n).c_str(),
		            ratio(c, "libc_uid/" + n, "flat_uid/" + n).c_str(),
		            ratio(c, "libc_uid/" + n, "db_uid/" + n).c_str(),
		            ratio(c, "db_uid/" + n, "db_uid/" + sizes.front()).c_str());
	for (const auto &[name, why] : c.error)
		std::printf("%s: %s\n", name.c_str(), why.c_str());
}

} // namespace

int main(int argc, char **argv)
{
	benchmark::Initialize(&argc, argv);
	if (argc < 3) {
		std::fprintf(stderr, "usage: lookup_bench DATA N... [benchmark options]\n");
		return EX_USAGE;
	}
	in_namespace = enter_namespace();
	std::string data = argv[1];
	std::vector<std::string> sizes(argv + 2, argv + argc);
	for (const std::string &n : sizes) {
		char *rest = nullptr;
		unsigned long count = std::strtoul(n.c_str(), &rest, 10);
		if (*rest != '\0' || count == 0) {
			std::fprintf(stderr, "lookup_bench: %s: not a number of accounts\n",
			             n.c_str());
			return EX_USAGE;
		}
		uid_t uid = first_uid + static_cast<uid_t>(count);
		std::string flat = data + "/" + n + "/flat/passwd";
		std::string db = data + "/" + n + "/db/passwd";
		std::string name = "user" + n;
		for (auto *b :
		     {benchmark::RegisterBenchmark(("floor/" + n).c_str(), floor_read, flat),
		      benchmark::RegisterBenchmark(("flat_uid/" + n).c_str(), ours_uid, flat, uid),
		      benchmark::RegisterBenchmark(("flat_name/" + n).c_str(), ours_name, flat,
		                                   name, uid),
		      benchmark::RegisterBenchmark(("libc_uid/" + n).c_str(), libc_uid, flat, uid),
		      benchmark::RegisterBenchmark(("db_uid/" + n).c_str(), ours_uid, db, uid)})
			b->Unit(benchmark::kMicrosecond)->UseRealTime();
	}
	Collector collector;
	benchmark::RunSpecifiedBenchmarks(&collector);
	benchmark::Shutdown();
	table(collector, sizes);
	return lookup_failed ? 1 : 0;
}
