// SPDX-License-Identifier: ISC
// The delivery-side example (examples/boxcheck.c) and the verdict answer
// alike: for each row of a table of mailboxes, limits and message sizes, the
// built example runs against a sample host and the verdict is asked about
// the same account, and the example's exit status must be the verdict's
// answer (0 within, EX_CANTCREAT over, EX_TEMPFAIL when the verdict cannot
// examine the mailbox, which the example defers rather than counts as empty).
//
// Both read the fixed paths, so the test runs as root in a private mount
// namespace of its own, with a sample password file bound over /etc/passwd
// and a sample spool over /var/mail; the host's files are never touched.
// Without root it is skipped (failed when CI is set).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pwd.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sysexits.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <string>

#include "boxquota_seam.h"
#include "verdict.h"

namespace {

constexpr int missing = -1; // no mailbox at all
constexpr int loop = -2;    // a link to itself: it cannot be examined

const std::string long_login(1100, 'n'); // too long for any mailbox path

struct Row {
	const char *name;
	const char *limit; // the limit file's text; nullptr: no file
	const char *login; // root (0), low (99) or user (1000)
	long long mailbox; // size in bytes, or missing, or loop
	long long incoming;
	bool over;  // the verdict's answer
	bool blind; // the mailbox could not be examined, though it is there
};

void PrintTo(const Row &row, std::ostream *os)
{
	*os << row.name;
}

const char limit[] = "# sample\n100\n500000\n";
const char largest[] = "100\n2147483647\n";

const Row rows[] = {
    {"within", limit, "user", 499000, 1000, false, false},
    {"at", limit, "user", 500000, 0, false, false},
    {"over_by_the_message", limit, "user", 499000, 1001, true, false},
    {"over_already", limit, "user", 500001, 0, true, false},
    {"missing_within", limit, "user", missing, 500000, false, false},
    {"missing_over", limit, "user", missing, 500001, true, false},
    {"unreadable", limit, "user", loop, 1, false, true},
    {"login_too_long", limit, nullptr, missing, 1, false, true},
    {"limit_off_no_file", nullptr, "user", 900000, 1000, false, false},
    {"limit_off_max_zero", "100\n0\n", "user", 900000, 1000, false, false},
    {"limit_off_min_zero", "0\n500000\n", "user", 900000, 1000, false, false},
    {"below_the_lowest_uid", limit, "low", 900000, 1000, false, false},
    {"negative_min_limits_root", "-5\n500000\n", "root", 600000, 0, true, false},
    {"negative_max_limits_the_empty", "100\n-1\n", "user", missing, 0, true, false},
    {"two_gib", limit, "user", 2147483648LL, 0, true, false},
    {"four_gib_and_ten_never_wraps", limit, "user", 4294967306LL, 0, true, false},
    {"two_gib_saturates_at_the_largest_limit", largest, "user", 2147483648LL, 0, false,
     false},
    {"sum_saturates_at_the_largest_limit", largest, "user", 1, 3000000000LL, false, false},
    {"largest_message_over", "100\n2147483646\n", "user", missing, 2147483647, true, false},
};

std::string work; // the sample host's folder, while the suite runs
bool ready = false;

void write_file(const std::string &path, const char *text)
{
	FILE *f = std::fopen(path.c_str(), "w");
	ASSERT_NE(f, nullptr) << path;
	std::fputs(text, f);
	ASSERT_EQ(std::fclose(f), 0) << path;
}

// Runs the example as the delivery agent would; its exit status.
int boxcheck(const std::string &login, long long incoming)
{
	std::string size = std::to_string(incoming);
	pid_t pid = ::fork();
	if (pid == 0) {
		int null = ::open("/dev/null", O_WRONLY);
		::dup2(null, 1);
		::dup2(null, 2);
		const char *argv[] = {BOXCHECK, login.c_str(), size.c_str(), nullptr};
		const char *env[] = {"PATH=/usr/bin:/bin", nullptr};
		::execve(BOXCHECK, const_cast<char *const *>(argv), const_cast<char *const *>(env));
		::_exit(127);
	}
	int status = 0;
	if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
		return -1;
	return WEXITSTATUS(status);
}

class ExampleAgrees : public testing::TestWithParam<Row> {
protected:
	// The file system type is ignored for these mounts; it is named, not
	// null, so that valgrind does not take it for a bad pointer.
	static void SetUpTestSuite()
	{
		if (::geteuid() != 0 || ::unshare(CLONE_NEWNS) != 0 ||
		    ::mount("none", "/", "none", MS_REC | MS_PRIVATE, nullptr) != 0)
			return;
		char dir[] = "/tmp/example-agrees.XXXXXX";
		if (::mkdtemp(dir) == nullptr)
			return;
		work = dir;
		std::string passwd = "root:x:0:0::/root:/bin/sh\n"
		                     "low:x:99:99::/:/bin/sh\n"
		                     "user:x:1000:1000::/:/bin/sh\n" +
		                     long_login + ":x:1001:1001::/:/bin/sh\n";
		write_file(work + "/passwd", passwd.c_str());
		::mkdir((work + "/mail").c_str(), 0755);
		ready = ::mount((work + "/passwd").c_str(), "/etc/passwd", "none", MS_BIND,
		                nullptr) == 0 &&
		        ::mount((work + "/mail").c_str(), "/var/mail", "none", MS_BIND,
		                nullptr) == 0;
	}

	static void TearDownTestSuite()
	{
		::umount2("/var/mail", MNT_DETACH);
		::umount2("/etc/passwd", MNT_DETACH);
		if (!work.empty())
			std::system(("rm -rf '" + work + "'").c_str());
	}

	void SetUp() override
	{
		if (ready)
			return;
		if (std::getenv("CI") != nullptr)
			FAIL() << "needs root and a private mount namespace (CI is set)";
		GTEST_SKIP() << "needs root and a private mount namespace";
	}
};

TEST_P(ExampleAgrees, Row)
{
	const Row &row = GetParam();
	std::string login = row.login != nullptr ? row.login : long_login;
	// The row's spool: its limit file and the one mailbox.
	for (const char *name : {"/var/mail/.boxquota", "/var/mail/root", "/var/mail/low",
	                         "/var/mail/user"})
		::unlink(name);
	if (row.limit != nullptr)
		write_file("/var/mail/.boxquota", row.limit);
	std::string box = "/var/mail/" + login;
	if (row.mailbox == loop) {
		ASSERT_EQ(::symlink(box.c_str(), box.c_str()), 0);
	} else if (row.mailbox != missing) {
		int fd = ::open(box.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
		ASSERT_GE(fd, 0);
		ASSERT_EQ(::ftruncate(fd, row.mailbox), 0);
		::close(fd);
	}

	BoxquotaTestReset("/var/mail/.boxquota");
	const passwd *pw = ::getpwnam(login.c_str());
	ASSERT_NE(pw, nullptr) << "the sample host has no " << login;
	verdict::Verdict v = verdict::judge(*pw, row.incoming);
	EXPECT_EQ(v.over, row.over);
	EXPECT_EQ(verdict::blind(v), row.blind) << "error " << v.error;

	int want = verdict::blind(v) ? EX_TEMPFAIL : v.over ? EX_CANTCREAT : 0;
	EXPECT_EQ(boxcheck(login, row.incoming), want)
	    << "the example disagrees with the verdict (size " << v.size << ", over "
	    << v.over << ", error " << v.error << ")";
}

INSTANTIATE_TEST_SUITE_P(Table, ExampleAgrees, testing::ValuesIn(rows),
                         [](const auto &p) { return std::string(p.param.name); });

} // namespace
