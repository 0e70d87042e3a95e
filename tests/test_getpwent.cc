// SPDX-License-Identifier: ISC
// Unit tests of the account module over the flat password file: parsing
// rules, keyed lookups, enumeration and stay-open state, and the privileged
// password retrieval with and without an effective uid of 0.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <ostream>
#include <string>

#include "account_fixture.h"
#include "time_bound.h"


namespace {

std::string name_of(passwd *pw) { return pw ? pw->pw_name : "(none)"; }

TEST_F(PasswdFile, FillsEveryField)
{
	write("alice:secret:100:200:Alice A,,,:/home/alice:/bin/sh\n");
	passwd *pw = account::getpwnam("alice");
	ASSERT_NE(pw, nullptr);
	if (geteuid() == 0) // the offset retrieval may replace the password
		GTEST_LOG_(INFO) << "running as root";
	EXPECT_STREQ(pw->pw_name, "alice");
	EXPECT_EQ(pw->pw_uid, 100u);
	EXPECT_EQ(pw->pw_gid, 200u);
	EXPECT_STREQ(pw->pw_gecos, "Alice A,,,");
	EXPECT_STREQ(pw->pw_dir, "/home/alice");
	EXPECT_STREQ(pw->pw_shell, "/bin/sh");
	EXPECT_EQ(account::getpwuid(100), pw) << "one module-owned record";
}

struct LineCase {
	const char *name;
	std::string content;
	uid_t uid;            // looked up by uid
	const char *expected; // the login found, or null
};

// Named in test output; printing the raw bytes would read the padding.
void PrintTo(const LineCase &c, std::ostream *os)
{
	*os << c.name;
}

class FlatLines : public PasswdFile, public testing::WithParamInterface<LineCase> {};

TEST_P(FlatLines, LookupByUid)
{
	write(GetParam().content);
	passwd *pw = account::getpwuid(GetParam().uid);
	if (GetParam().expected == nullptr)
		EXPECT_EQ(pw, nullptr) << "found " << name_of(pw);
	else
		EXPECT_EQ(name_of(pw), GetParam().expected);
}

const std::string line_1022 = "big:x:7:7::/:" + std::string(1022 - 13, 's') + "\n";
const std::string line_1023 = "big:x:7:7::/:" + std::string(1023 - 13, 's') + "\n";

INSTANTIATE_TEST_SUITE_P(Account, FlatLines, testing::Values(
	LineCase{"first_of_two_uids_wins", "a:x:5:5::/:\nb:x:5:5::/:\n", 5, "a"},
	LineCase{"six_fields_accepted", "a:x:5:5:g:/h\n", 5, "a"},
	LineCase{"five_fields_skipped", "a:x:5:5:g\nb:x:5:5:g:/h:/s\n", 5, "b"},
	LineCase{"blank_line_skipped", "\n\na:x:5:5::/:\n", 5, "a"},
	LineCase{"no_digits_is_uid_0", "w:x:abc:1::/:\n", 0, "w"},
	LineCase{"earlier_uid_0_wins", "root:x:0:0::/:\nw:x:abc:1::/:\n", 0, "root"},
	LineCase{"blanks_and_sign", "a:x: +42:1::/:\n", 42, "a"},
	LineCase{"minus_one", "n:x:-1:-1::/:\n", static_cast<uid_t>(-1), "n"},
	LineCase{"uid_saturates_high", "h:x:99999999999:1::/:\n", INT_MAX, "h"},
	LineCase{"uid_saturates_low", "l:x:-99999999999:1::/:\n",
	         static_cast<uid_t>(INT_MIN), "l"},
	LineCase{"last_line_without_newline", "a:x:1:1::/:\nb:x:5:5::/:", 5, nullptr},
	LineCase{"line_of_1022_found", line_1022, 7, "big"},
	LineCase{"line_of_1023_skipped", line_1023, 7, nullptr},
	LineCase{"long_line_keeps_the_next", std::string(70000, 'z') + "\nb:x:5:5::/:\n", 5, "b"},
	LineCase{"nul_keeps_the_next", std::string("a\0:x:5:5::/:\nb:x:5:5::/:\n", 26), 5, "b"},
	LineCase{"fields_after_seventh_ignored", "a:x:5:5:g:/h:/s:extra:more\n", 5, "a"},
	LineCase{"no_comment_syntax", "#c:x:5:5::/:\n", 5, "#c"}),
	[](const auto &p) { return std::string(p.param.name); });

TEST_F(PasswdFile, NameMatchIsExact)
{
	write("alice:x:1:1::/:\nalic:x:2:2::/:\nAlice:x:3:3::/:\n:x:4:4::/:\nalice:x:5:5::/:\n");
	EXPECT_EQ(account::getpwnam("alic")->pw_uid, 2u);
	EXPECT_EQ(account::getpwnam("alice")->pw_uid, 1u);
	EXPECT_EQ(account::getpwnam("")->pw_uid, 4u);
	EXPECT_EQ(account::getpwnam("ALICE"), nullptr);
}

TEST_F(PasswdFile, MissingFileFindsNothing)
{
	std::string absent = (dir / "absent").string(); // must outlive its use
	account::setpwfile(absent.c_str());
	EXPECT_EQ(account::getpwuid(0), nullptr);
	EXPECT_EQ(account::getpwnam("root"), nullptr);
	EXPECT_EQ(account::getpwent(), nullptr);
	EXPECT_EQ(account::pwent_error(), ENOENT) << "the walk tells why it ended";
	EXPECT_EQ(account::setpassent(1), 0);
	account::setpwfile(file.c_str());
}

// A FIFO (no writer ever comes) or a device (/dev/zero never ends) in the
// place of the password file is never read: it counts as a file that cannot
// be opened, also for the privileged retrieval.
TEST_F(PasswdFile, FifoOrDeviceIsNoFile)
{
	for (bool fifo : {true, false}) {
		std::filesystem::remove(file);
		ASSERT_EQ(fifo ? mkfifo(file.c_str(), 0644) : symlink("/dev/zero", file.c_str()), 0);
		int got = within(10, [] {
			int fds = open_fds();
			return account::getpwuid(0) != nullptr      ? 1
			       : account::getpwnam("root") != nullptr ? 2
			       : account::getpwent() != nullptr       ? 3
			       : account::setpassent(1) != 0          ? 4
			       : open_fds() != fds                    ? 5
			                                              : 0;
		});
		EXPECT_EQ(got, 0) << (fifo ? "FIFO" : "/dev/zero") << ": -1 hung, 5 left open";
	}
	std::filesystem::remove(file);
}

TEST_F(PasswdFile, KeyedLookupsCloseAndOverwrite)
{
	write("a:x:1:1::/:\nb:x:2:2::/:\n");
	int before = open_fds();
	passwd *first = account::getpwuid(1);
	ASSERT_NE(first, nullptr);
	EXPECT_EQ(open_fds(), before);
	passwd *second = account::getpwuid(2);
	EXPECT_EQ(open_fds(), before);
	EXPECT_EQ(first, second);
	EXPECT_STREQ(first->pw_name, "b");
}

TEST_F(PasswdFile, EnumerationEndsAndStaysEnded)
{
	write("a:x:1:1::/:\nbad\nb:x:2:2::/:\n");
	EXPECT_EQ(name_of(account::getpwent()), "a");
	EXPECT_EQ(name_of(account::getpwent()), "b");
	EXPECT_EQ(account::getpwent(), nullptr);
	EXPECT_EQ(account::getpwent(), nullptr);
	EXPECT_EQ(account::pwent_error(), 0);
	account::setpwent();
	EXPECT_EQ(name_of(account::getpwent()), "a");
}

TEST_F(PasswdFile, SetpwentRewindsTheFlatFile)
{
	write("a:x:1:1::/:\nb:x:2:2::/:\nc:x:3:3::/:\n");
	EXPECT_EQ(name_of(account::getpwent()), "a");
	EXPECT_EQ(name_of(account::getpwent()), "b");
	account::setpwent();
	EXPECT_EQ(name_of(account::getpwent()), "a");
}

TEST_F(PasswdFile, LookupWithStayOpenOffRestartsEnumeration)
{
	write("a:x:1:1::/:\nb:x:2:2::/:\nc:x:3:3::/:\n");
	EXPECT_EQ(name_of(account::getpwent()), "a");
	EXPECT_EQ(name_of(account::getpwent()), "b");
	EXPECT_EQ(name_of(account::getpwuid(3)), "c");
	EXPECT_EQ(name_of(account::getpwent()), "a");
}

TEST_F(PasswdFile, LookupWithStayOpenOnMovesEnumeration)
{
	write("a:x:1:1::/:\nb:x:2:2::/:\nc:x:3:3::/:\nd:x:4:4::/:\n");
	ASSERT_EQ(account::setpassent(1), 1);
	int open_now = open_fds();
	EXPECT_EQ(name_of(account::getpwent()), "a");
	EXPECT_EQ(name_of(account::getpwuid(2)), "b");
	EXPECT_EQ(open_fds(), open_now) << "the source stays open";
	EXPECT_EQ(name_of(account::getpwent()), "c");
	EXPECT_EQ(name_of(account::getpwnam("a")), "a");
	EXPECT_EQ(name_of(account::getpwent()), "b");
	EXPECT_EQ(account::getpwuid(99), nullptr);
	EXPECT_EQ(account::getpwent(), nullptr);
	account::endpwent();
	EXPECT_EQ(open_fds(), open_now - 1);
	EXPECT_EQ(name_of(account::getpwent()), "a");
}

TEST_F(PasswdFile, NewPathTakesEffectAtNextOpening)
{
	write("a:x:1:1::/:\n");
	std::string other = (dir / "other").string();
	std::ofstream(other) << "z:x:1:1::/:\n";
	EXPECT_EQ(name_of(account::getpwent()), "a");
	account::setpwfile(other.c_str());
	EXPECT_EQ(account::getpwent(), nullptr) << "the open stream is kept";
	account::endpwent();
	EXPECT_EQ(name_of(account::getpwent()), "z");
	account::setpwfile(file.c_str());
}

// --- privileged password retrieval ---------------------------------------

// The password field names a byte offset in the file; the password is the
// text there up to the next ':'. Offsets are worked out as the file is made,
// except those of the passwords of 48 and 49 characters, put at the fixed
// places 400 and 500 by padding.
std::string secret_file()
{
	std::string tail = "nodigit:abc:1:1::/:\n"
	                   "neg:-5:2:2::/:\n"
	                   "far:99999:3:3::/:\n"
	                   "nocolon:NNN:4:4::/:\n";
	std::string head = "root:NNN:0:0::/root:/bin/sh\n";
	std::size_t secret = head.size() + tail.size();
	std::string body = "s3cret:trailing\n";
	std::size_t plain = secret + body.size();
	head.replace(5, 3, std::to_string(secret));
	tail.replace(tail.find("NNN"), 3, std::to_string(plain));
	std::string file = head + tail + body + std::string(60, 'y') + "\n" +
	                   "p48:0400:5:5::/:\n"
	                   "p49:0500:6:6::/:\n";
	file += std::string(399 - file.size(), '-') + "\n" + std::string(48, 'a') + ":\n";
	file += std::string(499 - file.size(), '-') + "\n" + std::string(49, 'b') + ":\n";
	return file;
}

struct PrivCase {
	const char *name;
	const char *login;
	const char *as_root;
};

// Named in test output; printing the raw bytes would read the padding.
void PrintTo(const PrivCase &c, std::ostream *os)
{
	*os << c.name;
}

const std::string a48(48, 'a');

class Retrieval : public PasswdFile, public testing::WithParamInterface<PrivCase> {};

TEST_P(Retrieval, AsRootReadsAtTheOffset)
{
	if (!need_root())
		GTEST_SKIP() << "needs effective uid 0";
	write(secret_file());
	passwd *pw = account::getpwnam(GetParam().login);
	ASSERT_NE(pw, nullptr);
	EXPECT_STREQ(pw->pw_passwd, GetParam().as_root);
}

INSTANTIATE_TEST_SUITE_P(Account, Retrieval, testing::Values(
	PrivCase{"text_at_offset", "root", "s3cret"},
	PrivCase{"no_digits_is_offset_0", "nodigit", "root"},
	PrivCase{"negative_offset_unchanged", "neg", "-5"},
	PrivCase{"past_the_end_unchanged", "far", "99999"},
	PrivCase{"no_colon_within_48_unchanged", "nocolon", "117"},
	PrivCase{"password_of_48_found", "p48", a48.c_str()},
	PrivCase{"password_of_49_unchanged", "p49", "0500"}),
	[](const auto &p) { return std::string(p.param.name); });

TEST_F(PasswdFile, WithoutPrivilegeThePasswordIsAsStored)
{
	if (!need_root())
		GTEST_SKIP() << "needs root to drop the effective uid in a child";
	write(secret_file());
	std::filesystem::permissions(dir, std::filesystem::perms(0755));
	pid_t child = fork();
	ASSERT_GE(child, 0);
	if (child == 0) {
		if (seteuid(65534) != 0)
			_exit(2);
		passwd *pw = account::getpwnam("root");
		bool ok = pw != nullptr && std::strcmp(pw->pw_passwd, "101") == 0;
		pw = account::getpwent();
		ok = ok && pw != nullptr && std::strcmp(pw->pw_passwd, "101") == 0;
		_exit(ok ? 0 : 1);
	}
	int status = 0;
	ASSERT_EQ(waitpid(child, &status, 0), child);
	ASSERT_TRUE(WIFEXITED(status));
	EXPECT_EQ(WEXITSTATUS(status), 0) << "1: password changed, 2: seteuid failed";
}

TEST_F(PasswdFile, RetrievalAlsoForEnumeration)
{
	if (!need_root())
		GTEST_SKIP() << "needs effective uid 0";
	write(secret_file());
	passwd *pw = account::getpwent();
	ASSERT_NE(pw, nullptr);
	EXPECT_STREQ(pw->pw_passwd, "s3cret");
}

} // namespace
