// SPDX-License-Identifier: ISC
// Unit tests of the account module with a hashed database beside the flat
// file: databases built by pwdb, and malformed records written directly.
#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>

extern "C" {
#include <ndbm.h>
}

#include "account_fixture.h"
#include "pwpack.h"
#include "pwrecord.h"
#include "time_bound.h"

namespace {

std::string name_of(passwd *pw) { return pw ? pw->pw_name : "(none)"; }

class Database : public PasswdFile {
protected:
	// Builds the database from content, then leaves the flat file as flat.
	void build(const std::string &content, const std::string &flat)
	{
		write(content);
		std::string cmd = std::string(PWDB) + " " + file;
		ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
		write(flat);
	}
	void build(const std::string &content) { build(content, content); }

	// Stores raw values under raw keys, beside a flat file of flat.
	void store(std::initializer_list<std::pair<std::string, std::string>> records,
	           const std::string &flat)
	{
		write(flat);
		DBM *db = dbm_open(const_cast<char *>(file.c_str()), O_RDWR | O_CREAT, 0644);
		ASSERT_NE(db, nullptr);
		for (const auto &[k, v] : records) {
			datum key{const_cast<char *>(k.data()), static_cast<int>(k.size())};
			datum val{const_cast<char *>(v.data()), static_cast<int>(v.size())};
			ASSERT_EQ(dbm_store(db, key, val, DBM_REPLACE), 0);
		}
		dbm_close(db);
	}

	bool exists(const std::string &suffix) const
	{
		struct stat st = {};
		return ::stat((file + suffix).c_str(), &st) == 0;
	}
};

const std::string three = "a:x:1:1:first:/a:/bin/sh\nb:x:2:2::/b:\nc:x:3:3::/c:\n";

TEST_F(Database, KeyedLookupsReadTheDatabase)
{
	build(three, "a:x:1:1:changed:/a:/bin/sh\nz:x:26:26::/z:\n");
	EXPECT_EQ(std::string(account::getpwnam("a")->pw_gecos), "first");
	EXPECT_EQ(std::string(account::getpwuid(1)->pw_gecos), "first");
	EXPECT_EQ(name_of(account::getpwuid(3)), "c");
	EXPECT_EQ(account::getpwnam("z"), nullptr) << "only in the flat file";
	EXPECT_EQ(account::getpwuid(26), nullptr);
	EXPECT_EQ(name_of(account::getpwent()), "a") << "enumeration reads the flat file";
	EXPECT_EQ(name_of(account::getpwent()), "z");
	EXPECT_EQ(account::getpwent(), nullptr);
}

TEST_F(Database, FirstLineWinsAsInAFlatScan)
{
	build("a:x:5:5:one:/:\na:x:6:6:two:/:\nb:x:5:5:three:/:\n");
	EXPECT_EQ(std::string(account::getpwnam("a")->pw_gecos), "one");
	EXPECT_EQ(std::string(account::getpwuid(5)->pw_gecos), "one");
	EXPECT_EQ(std::string(account::getpwuid(6)->pw_gecos), "two");
	EXPECT_EQ(std::string(account::getpwnam("b")->pw_gecos), "three");
}

TEST_F(Database, IdsAtAnOddOffsetAndEmptyName)
{
	// "ab\0" "x\0": the uid starts at byte 5.
	build("ab:x:305419896:-2:g:/h:/s\n:x:77:77::/:\n");
	passwd *pw = account::getpwnam("ab");
	ASSERT_NE(pw, nullptr);
	EXPECT_EQ(pw->pw_uid, 305419896u);
	EXPECT_EQ(static_cast<int>(pw->pw_gid), -2);
	EXPECT_STREQ(pw->pw_shell, "/s");
	EXPECT_EQ(account::getpwnam("")->pw_uid, 77u);
}

TEST_F(Database, EnumerationGoesOnAcrossSetpwent)
{
	build(three);
	EXPECT_EQ(name_of(account::getpwent()), "a");
	EXPECT_EQ(name_of(account::getpwent()), "b");
	account::setpwent();
	EXPECT_EQ(name_of(account::getpwent()), "c");
	account::endpwent();
	EXPECT_EQ(name_of(account::getpwent()), "a");
}

TEST_F(Database, StayOpenLookupLeavesEnumeration)
{
	build(three);
	ASSERT_EQ(account::setpassent(1), 1);
	EXPECT_EQ(name_of(account::getpwent()), "a");
	EXPECT_EQ(name_of(account::getpwuid(3)), "c");
	EXPECT_EQ(name_of(account::getpwent()), "b");
}

TEST_F(Database, LookupWithStayOpenOffRestartsEnumeration)
{
	build(three);
	EXPECT_EQ(name_of(account::getpwent()), "a");
	EXPECT_EQ(name_of(account::getpwent()), "b");
	EXPECT_EQ(name_of(account::getpwnam("c")), "c");
	EXPECT_EQ(name_of(account::getpwent()), "a");
}

TEST_F(Database, PrivilegedRetrievalReadsTheFlatFile)
{
	if (!need_root())
		GTEST_SKIP() << "needs effective uid 0";
	// The record's password field is the offset of "hidden" in the file.
	std::string flat = "a:24:1:1::/:\nfiller----\nhidden:rest\n";
	build(flat);
	EXPECT_STREQ(account::getpwuid(1)->pw_passwd, "hidden");
}

// A login of four bytes spells a uid's key ("abcd" and 1684234849 on a
// little-endian host): whichever line pwdb stored first keeps the key, and
// the lookup of the other finds a record that is not the one asked for; it
// reads the flat file instead and finds the right account.
struct Shared {
	const char *name;
	bool login_first; // the line of the login comes first
	int stayopen;
};

void PrintTo(const Shared &c, std::ostream *os)
{
	*os << c.name;
}

class SharedKey : public Database, public testing::WithParamInterface<Shared> {};

TEST_P(SharedKey, BothLookupsFindTheirAccount)
{
	std::uint32_t uid;
	std::memcpy(&uid, "abcd", 4);
	std::string login = "abcd:x:7:7:the login:/:\n";
	std::string owner = "efgh:x:" + std::to_string(uid) + ":1:the uid:/:\n";
	build(GetParam().login_first ? login + owner : owner + login);
	ASSERT_EQ(account::setpassent(GetParam().stayopen), 1);
	for (int round = 0; round < 2; round++) {
		passwd *pw = account::getpwnam("abcd");
		ASSERT_NE(pw, nullptr);
		EXPECT_EQ(pw->pw_uid, 7u);
		EXPECT_STREQ(pw->pw_gecos, "the login");
		pw = account::getpwuid(uid);
		ASSERT_NE(pw, nullptr);
		EXPECT_STREQ(pw->pw_name, "efgh");
		EXPECT_STREQ(pw->pw_gecos, "the uid");
		EXPECT_EQ(name_of(account::getpwuid(7)), "abcd");
		EXPECT_EQ(name_of(account::getpwnam("efgh")), "efgh");
	}
	// Absent from the file too: still none.
	write(GetParam().login_first ? login : owner);
	account::endpwent();
	if (GetParam().login_first)
		EXPECT_EQ(account::getpwuid(uid), nullptr);
	else
		EXPECT_EQ(account::getpwnam("abcd"), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Account, SharedKey, testing::Values(
	Shared{"login_first", true, 0}, Shared{"uid_first", false, 0},
	Shared{"login_first_stayopen", true, 1}, Shared{"uid_first_stayopen", false, 1}),
	[](const auto &p) { return std::string(p.param.name); });

struct Malformed {
	const char *name;
	std::string value;
};

// Named in test output; printing the raw bytes would read the padding.
void PrintTo(const Malformed &c, std::ostream *os)
{
	*os << c.name;
}

std::string ids(std::uint32_t uid, std::uint32_t gid)
{
	std::string s(8, '\0');
	std::memcpy(s.data(), &uid, 4);
	std::memcpy(s.data() + 4, &gid, 4);
	return s;
}

const std::string good = std::string("m\0x\0", 4) + ids(9, 9) + std::string("g\0/h\0/s\0", 8) + "F";

class MalformedRecord : public Database, public testing::WithParamInterface<Malformed> {};

TEST_P(MalformedRecord, CountsAsAbsent)
{
	store({{"m", GetParam().value}, {account::record::uid_key(9), GetParam().value}},
	      "m:x:9:9::/:\n");
	EXPECT_EQ(account::getpwnam("m"), nullptr);
	EXPECT_EQ(account::getpwuid(9), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Account, MalformedRecord, testing::Values(
	Malformed{"empty", ""},
	Malformed{"name_unterminated", "mmmm"},
	Malformed{"too_short_for_ids", std::string("m\0x\0", 4) + "123"},
	Malformed{"shell_unterminated", good.substr(0, good.size() - 2)},
	Malformed{"no_flag_byte", good.substr(0, good.size() - 1)},
	Malformed{"strings_overflow_buffer",
	          std::string("m\0x\0", 4) + ids(9, 9) + std::string(1100, 'g') +
	          std::string("\0/h\0/s\0F", 8)}),
	[](const auto &p) { return std::string(p.param.name); });

TEST_F(Database, RecordFillingTheBufferExactly)
{
	// name, password, gecos, home, shell with their NULs: 1024 bytes.
	std::string gecos(1024 - 2 - 2 - 3 - 3 - 1, 'g');
	std::string value = std::string("m\0x\0", 4) + ids(9, 9) + gecos +
	                    std::string("\0/h\0/s\0F", 8);
	store({{"m", value}}, "");
	passwd *pw = account::getpwnam("m");
	ASSERT_NE(pw, nullptr);
	EXPECT_EQ(std::strlen(pw->pw_gecos), gecos.size());
	EXPECT_STREQ(pw->pw_shell, "/s");
}

TEST_F(Database, HalfADatabaseIsNoneAndIsNotCompleted)
{
	build(three, "z:x:26:26::/z:\n");
	ASSERT_EQ(::unlink((file + ".dir").c_str()), 0);
	EXPECT_EQ(name_of(account::getpwuid(26)), "z") << "the flat file serves";
	EXPECT_FALSE(exists(".dir")) << "a reader must not create the missing file";
	ASSERT_EQ(::link((file + ".pag").c_str(), (file + ".dir").c_str()), 0);
	struct stat pag = {};
	ASSERT_EQ(::stat((file + ".pag").c_str(), &pag), 0);
	EXPECT_EQ(name_of(account::getpwuid(26)), "z");
	EXPECT_EQ(name_of(account::getpwnam("z")), "z");
	// An old-layout link is left exactly as it was: one file, two names.
	struct stat linked = {};
	ASSERT_EQ(::stat((file + ".dir").c_str(), &linked), 0);
	EXPECT_EQ(linked.st_ino, pag.st_ino);
	EXPECT_EQ(linked.st_nlink, 2u);
	EXPECT_EQ(linked.st_size, pag.st_size);
	EXPECT_EQ(linked.st_mtim.tv_sec, pag.st_mtim.tv_sec);
	EXPECT_EQ(linked.st_mtim.tv_nsec, pag.st_mtim.tv_nsec);
}

TEST_F(Database, GarbageOrUnreadableDatabaseIsNone)
{
	write("z:x:26:26::/z:\n");
	std::ofstream(file + ".pag") << std::string(5000, '\x5a');
	std::ofstream(file + ".dir") << "not a database at all";
	EXPECT_EQ(name_of(account::getpwuid(26)), "z");
	std::ofstream(file + ".pag", std::ios::trunc) << "";
	EXPECT_EQ(name_of(account::getpwnam("z")), "z");
}

// A database file that is a FIFO or a device is never read (nor opened by
// the library): the flat file serves. A flat file that is one is never read
// either, also not by the privileged retrieval after a database lookup.
struct Special {
	const char *suffix; // of the file replaced: "", ".pag" or ".dir"
	bool fifo;          // a FIFO, else a symbolic link to /dev/zero
};

void PrintTo(const Special &s, std::ostream *os)
{
	*os << "passwd" << s.suffix << (s.fifo ? " FIFO" : " /dev/zero");
}

class SpecialFile : public Database, public testing::WithParamInterface<Special> {};

TEST_P(SpecialFile, IsNeverRead)
{
	build(three, "a:x:1:1:flat:/a:\nz:x:26:26::/z:\n");
	std::string path = file + GetParam().suffix;
	ASSERT_EQ(::unlink(path.c_str()), 0);
	ASSERT_EQ(GetParam().fifo ? mkfifo(path.c_str(), 0644) : symlink("/dev/zero", path.c_str()),
	          0);
	bool flat_replaced = *GetParam().suffix == '\0';
	int got = within(10, [flat_replaced] {
		if (flat_replaced) // the database serves; enumeration finds nothing
			return name_of(account::getpwuid(1)) != "a" ? 1
			       : std::string(account::getpwuid(1)->pw_passwd) != "x" ? 2
			       : account::getpwent() != nullptr ? 3
			                                        : 0;
		return std::string(account::getpwnam("a")->pw_gecos) != "flat" ? 4
		       : name_of(account::getpwuid(26)) != "z"               ? 5
		                                                             : 0;
	});
	EXPECT_EQ(got, 0) << "-1: hung or crashed";
	::unlink(path.c_str());
}

INSTANTIATE_TEST_SUITE_P(Account, SpecialFile,
                         testing::Values(Special{"", true}, Special{"", false},
                                         Special{".pag", true}, Special{".pag", false},
                                         Special{".dir", true}, Special{".dir", false}));

TEST_F(Database, LargeFileGetsAUsableDatabase)
{
	// Large enough for pwdb to choose buckets bigger than the default.
	std::string many;
	for (int i = 0; i < 30000; i++)
		many += "user" + std::to_string(i) + ":x:" + std::to_string(100000 + i) +
		        ":100:User Number " + std::to_string(i) + ",,,:/home/user" + std::to_string(i) +
		        ":/bin/sh\n";
	build(many, "");
	for (int i : {0, 1, 14999, 29998, 29999}) {
		passwd *pw = account::getpwuid(static_cast<uid_t>(100000 + i));
		ASSERT_NE(pw, nullptr) << i;
		EXPECT_EQ(name_of(pw), "user" + std::to_string(i));
		EXPECT_EQ(account::getpwnam(("user" + std::to_string(i)).c_str())->pw_uid,
		          static_cast<uid_t>(100000 + i));
	}
	EXPECT_EQ(account::getpwuid(130000), nullptr);
}

TEST_F(Database, KeptOpenItsMemoryStaysSmall)
{
	// A process that keeps the database open (a policy service) and looks
	// up scattered accounts must not keep a copy of every bucket it read.
	std::string many;
	for (int i = 0; i < 30000; i++)
		many += "user" + std::to_string(i) + ":x:" + std::to_string(100000 + i) +
		        ":100:User Number " + std::to_string(i) + ",,,:/home/user" + std::to_string(i) +
		        ":/bin/sh\n";
	build(many);
	ASSERT_EQ(account::setpassent(1), 1);
	ASSERT_NE(account::getpwuid(100000), nullptr);
	std::size_t before = mallinfo2().uordblks;
	for (int n = 0, i = 0; n < 3000; n++, i = (i + 7919) % 30000)
		ASSERT_NE(account::getpwuid(static_cast<uid_t>(100000 + i)), nullptr) << i;
	std::size_t after = mallinfo2().uordblks;
	EXPECT_LT(after, before + (1u << 20)) << "heap grew from " << before << " to " << after;
}

TEST_F(Database, TruncatedDatabaseDoesNotCrash)
{
	std::string many;
	for (int i = 0; i < 2000; i++)
		many += "u" + std::to_string(i) + ":x:" + std::to_string(i) + ":1::/:\n";
	build(many);
	ASSERT_EQ(::truncate((file + ".pag").c_str(), 3000), 0);
	// Whatever the damaged file still yields, lookups return or fail cleanly.
	for (int i = 0; i < 2000; i += 97) {
		passwd *pw = account::getpwuid(static_cast<uid_t>(i));
		if (pw != nullptr) {
			EXPECT_EQ(pw->pw_uid, static_cast<uid_t>(i));
		}
	}
}

// A database that opens but fails inside the library on a fetch (a read
// error, a damaged bucket directory, bytes appended) is closed, and the
// lookup is served by the flat file, as when no database opens: every account
// is found, also with stay-open set. A key absent from both stays absent.
struct Damage {
	const char *name;
	const char *command; // run with sh in the folder of the database
};

void PrintTo(const Damage &d, std::ostream *os)
{
	*os << d.name;
}

class DamagedDatabase : public Database, public testing::WithParamInterface<Damage> {};

TEST_P(DamagedDatabase, FlatFileServes)
{
	std::string many;
	for (int i = 0; i < 2000; i++)
		many += "u" + std::to_string(i) + ":x:" + std::to_string(i) + ":1::/:\n";
	build(many);
	std::string cmd = "cd " + dir.string() + " && " + GetParam().command;
	ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
	for (int stayopen : {0, 1}) {
		ASSERT_EQ(account::setpassent(stayopen), 1);
		for (int i = 0; i < 2000; i += 97) {
			std::string name = "u" + std::to_string(i);
			EXPECT_EQ(name_of(account::getpwuid(static_cast<uid_t>(i))), name);
			passwd *pw = account::getpwnam(name.c_str());
			ASSERT_NE(pw, nullptr) << name << ", stay-open " << stayopen;
			EXPECT_EQ(pw->pw_uid, static_cast<uid_t>(i));
		}
		EXPECT_EQ(account::getpwuid(2000), nullptr);
		EXPECT_EQ(account::getpwnam("nobody"), nullptr);
		account::endpwent();
	}
	// An enumeration has the flat file open past its first lines: the scan
	// that replaces the database starts from the first line all the same.
	ASSERT_EQ(account::setpassent(1), 1);
	for (const char *name : {"u0", "u1", "u2"})
		ASSERT_EQ(name_of(account::getpwent()), name);
	EXPECT_EQ(name_of(account::getpwuid(0)), "u0");
	EXPECT_EQ(name_of(account::getpwnam("u1")), "u1");
}

INSTANTIATE_TEST_SUITE_P(Account, DamagedDatabase, testing::Values(
	Damage{"truncated", "truncate -s 50000 passwd.pag"},
	Damage{"zeroed_directory",
	       "dd if=/dev/zero of=passwd.pag bs=4096 seek=1 count=1 conv=notrunc status=none"},
	Damage{"garbage_appended", "printf 'garbage after the end' >> passwd.pag"}),
	[](const auto &p) { return std::string(p.param.name); });

} // namespace
