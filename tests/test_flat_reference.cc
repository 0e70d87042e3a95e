// SPDX-License-Identifier: ISC
// The flat-file lookups checked against a plain reading of the file format:
// an independent reference that takes the file line by line with
// std::getline, splits each at ':' and '\n' as strsep would, converts ids
// with strtoll, and finds the first match by walking the accepted lines.
// Random and adversarial files (over-long lines around the limit, lines
// across the reader's block boundaries, NUL bytes, missing fields, duplicate
// ids and names, huge ids, no final newline) must give the same getpwuid,
// getpwnam and getpwent answers, field by field, from the module.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <iterator>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "account_fixture.h"
#include "flatfile.h"

namespace {

struct Account {
	std::string name, passwd, gecos, dir, shell;
	uid_t uid;
	gid_t gid;
	bool operator==(const Account &) const = default;
};

std::ostream &operator<<(std::ostream &o, const Account &a)
{
	return o << testing::PrintToString(a.name) << " uid " << a.uid << " gid " << a.gid << " pw "
	         << testing::PrintToString(a.passwd) << " gecos " << testing::PrintToString(a.gecos)
	         << " dir " << testing::PrintToString(a.dir) << " shell "
	         << testing::PrintToString(a.shell);
}

std::optional<Account> copy(const passwd *pw)
{
	if (pw == nullptr)
		return std::nullopt;
	return Account{pw->pw_name, pw->pw_passwd, pw->pw_gecos, pw->pw_dir, pw->pw_shell,
	               pw->pw_uid, pw->pw_gid};
}

// --- the reference ---------------------------------------------------------

int to_int(const std::string &field)
{
	errno = 0;
	long long v = std::strtoll(field.c_str(), nullptr, 10);
	return v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : static_cast<int>(v);
}

// The password text the privileged retrieval finds for this field, as root.
std::string retrieved(const std::string &content, const std::string &field)
{
	if (geteuid() != 0)
		return field;
	errno = 0;
	long long offset = std::strtoll(field.c_str(), nullptr, 10);
	if (offset < 0 || errno == ERANGE || static_cast<unsigned long long>(offset) > content.size())
		return field;
	std::string text = content.substr(static_cast<std::size_t>(offset), 49);
	text = text.substr(0, text.find('\0'));
	std::size_t colon = text.find(':');
	return colon == std::string::npos ? field : text.substr(0, colon);
}

// Every accepted line of content, in order.
std::vector<Account> reference(const std::string &content)
{
	std::vector<Account> out;
	std::istringstream in(content);
	std::string raw;
	while (std::getline(in, raw)) {
		if (in.eof() || raw.size() >= 1023)
			continue; // no newline after it, or too long
		// The line as a C string: it ends at a NUL, else after its newline.
		std::string s = raw.substr(0, raw.find('\0'));
		if (s.size() == raw.size())
			s += '\n';
		std::vector<std::string> fields;
		std::size_t at = 0;
		for (;;) {
			std::size_t sep = s.find_first_of(":\n", at);
			fields.push_back(s.substr(at, sep == std::string::npos ? sep : sep - at));
			if (sep == std::string::npos)
				break;
			at = sep + 1;
		}
		if (fields.size() < 7)
			continue;
		out.push_back(Account{fields[0], retrieved(content, fields[1]), fields[4], fields[5],
		                      fields[6], static_cast<uid_t>(to_int(fields[2])),
		                      static_cast<gid_t>(to_int(fields[3]))});
	}
	return out;
}

// --- generated files ---------------------------------------------------------

class Generator {
	std::mt19937 rng;

	std::size_t pick(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng); }

public:
	explicit Generator(unsigned seed) : rng(seed) {}

	std::string name()
	{
		static const char *const names[] = {"root", "alice", "alic", "bob", "", "al", "x", "a1000",
		                                    "ali\tce", "1000", "Alice"};
		return names[pick(std::size(names))];
	}

	std::string id()
	{
		static const char *const ids[] = {"0", "7", "1000", "01000", " 1000", "+1000", "-1000",
		                                  "1000x", "abc", "", "\t\v42", "- 5", "+-5", "99999999999",
		                                  "-99999999999", "2147483647", "2147483648",
		                                  "-2147483648", "4294967295", "100", "10000", "42",
		                                  "0x10", " ", "1000\r"};
		return ids[pick(std::size(ids))];
	}

	std::string text(std::size_t max)
	{
		static const char alphabet[] = "abc01 /,:\t";
		std::string s(pick(max + 1), 'a');
		for (char &c : s)
			c = alphabet[pick(sizeof alphabet - 1)];
		return s;
	}

	std::string line()
	{
		std::string l;
		switch (pick(12)) {
		case 0: // over-long, near the limit or far past it
			l = name() + ":x:" + id() + ":1:" +
			    std::string(pick(3) == 0 ? 70000 + pick(9) : 1000 + pick(40), 'g') + ":/:";
			break;
		case 1: // fields missing or extra
			for (std::size_t i = 0, n = 1 + pick(9); i < n; i++)
				l += (i ? ":" : "") + (i == 2 || i == 3 ? id() : text(4));
			break;
		case 2: // blank
			break;
		default:
			l = name() + ":" + (pick(3) ? "x" : id()) + ":" + id() + ":" + id() + ":" + text(12) +
			    ":/home/" + text(6) + (pick(4) ? ":" + text(6) : "");
		}
		if (pick(10) == 0) // a NUL somewhere
			l.insert(pick(l.size() + 1), 1, '\0');
		return l + "\n";
	}

	std::string file(std::size_t lines)
	{
		std::string f;
		for (std::size_t i = 0; i < lines; i++)
			f += line();
		if (pick(3) == 0)
			f += name() + ":x:" + id() + ":1::/:"; // no final newline
		return f;
	}
};

// A line of exactly n characters plus its newline, for uid.
std::string sized(const std::string &login, int uid, std::size_t n)
{
	std::string head = login + ":x:" + std::to_string(uid) + ":1:";
	std::string tail = ":/:";
	return head + std::string(n - head.size() - tail.size(), 'g') + tail + "\n";
}

// Lines that end just before, at and just after each of the first block
// boundaries, and over-long lines that run across them.
std::string across_blocks()
{
	const std::size_t block = account::flat::block_size;
	std::string f;
	int uid = 5000;
	for (std::size_t boundary = block; boundary <= 3 * block; boundary += block) {
		for (long shift : {-1030L, -1023L, -1022L, -2L, -1L, 0L, 1L, 2L, 500L, 1021L, 1022L}) {
			// Filler up to a place that puts the next line across the
			// boundary by shift bytes.
			std::size_t want = boundary - static_cast<std::size_t>(1022 - shift);
			while (f.size() + 1023 < want)
				f += sized("fill", 1, 1000);
			if (want > f.size() + 40)
				f += sized("pad", 2, want - f.size() - 1);
			std::size_t len = 1000 + static_cast<std::size_t>(uid % 30);
			f += sized("u" + std::to_string(uid), uid, len);
			uid++;
		}
		f += sized("long", 9, 1023) + sized("edge", 10, 1022);
	}
	return f;
}

class FlatReference : public PasswdFile {
protected:
	// Every lookup answer of the module for content equals the reference.
	void compare(const std::string &content, const std::vector<uid_t> &extra_uids = {})
	{
		write(content);
		std::vector<Account> want = reference(content);

		std::vector<Account> got;
		account::endpwent();
		while (passwd *pw = account::getpwent())
			got.push_back(*copy(pw));
		account::endpwent();
		ASSERT_EQ(got, want) << "enumeration";

		std::set<uid_t> uids(extra_uids.begin(), extra_uids.end());
		std::set<std::string> names{"nobody-here", "alice:x", "alice\n"};
		for (uid_t u : {0u, 1u, 42u, 1000u, static_cast<uid_t>(-1000), static_cast<uid_t>(INT_MAX),
		                static_cast<uid_t>(INT_MIN), 4294967295u, 10u})
			uids.insert(u);
		for (const Account &a : want) {
			uids.insert(a.uid);
			names.insert(a.name);
		}
		for (uid_t u : uids) {
			std::optional<Account> first;
			for (const Account &a : want)
				if (a.uid == u) {
					first = a;
					break;
				}
			EXPECT_EQ(copy(account::getpwuid(u)), first) << "getpwuid(" << u << ")";
		}
		for (const std::string &n : names) {
			std::optional<Account> first;
			for (const Account &a : want)
				if (a.name == n) {
					first = a;
					break;
				}
			EXPECT_EQ(copy(account::getpwnam(n.c_str())), first)
			    << "getpwnam(" << testing::PrintToString(n) << ")";
		}
	}

	// With stay-open, the enumeration goes on after the line a lookup found,
	// and is over when it found nothing.
	void compare_stay_open(const std::string &content, uid_t uid)
	{
		write(content);
		std::vector<Account> want = reference(content);
		std::optional<Account> next;
		for (std::size_t i = 0; i < want.size(); i++)
			if (want[i].uid == uid) {
				if (i + 1 < want.size())
					next = want[i + 1];
				break;
			}
		ASSERT_EQ(account::setpassent(1), 1);
		(void)account::getpwuid(uid);
		EXPECT_EQ(copy(account::getpwent()), next) << "after getpwuid(" << uid << ")";
		account::setpassent(0);
		account::endpwent();
	}
};

TEST_F(FlatReference, RandomFiles)
{
	for (unsigned seed = 1; seed <= 60; seed++) {
		SCOPED_TRACE("seed " + std::to_string(seed));
		Generator g(seed);
		compare(g.file(seed % 7 == 0 ? 3000 : 40));
		if (HasFatalFailure())
			return;
	}
}

TEST_F(FlatReference, LinesAcrossBlockBoundaries)
{
	std::string f = across_blocks();
	ASSERT_GT(f.size(), 3 * account::flat::block_size);
	std::vector<uid_t> uids;
	for (uid_t u = 5000; u < 5040; u++)
		uids.push_back(u);
	compare(f, uids);
	for (uid_t u : {5003u, 5010u, 5020u, 9u, 10u})
		compare_stay_open(f, u);
}

TEST_F(FlatReference, RandomLinesAcrossBlockBoundaries)
{
	Generator g(1234);
	std::string f;
	while (f.size() < 2 * account::flat::block_size + 5000)
		f += g.line();
	compare(f);
}

TEST_F(FlatReference, StayOpenEnumerationFollowsTheMatch)
{
	Generator g(99);
	std::string f = g.file(300);
	for (uid_t u : {0u, 7u, 42u, 1000u, static_cast<uid_t>(-1000), static_cast<uid_t>(INT_MAX), 31337u})
		compare_stay_open(f, u);
}

struct Adversarial {
	const char *name;
	std::string content;
};

class AdversarialFile : public FlatReference, public testing::WithParamInterface<Adversarial> {};

TEST_P(AdversarialFile, AgreesWithReference)
{
	compare(GetParam().content);
}

INSTANTIATE_TEST_SUITE_P(Account, AdversarialFile, testing::Values(
	Adversarial{"uid_digits_elsewhere_in_the_line",
	            "a:1000:7:1000:u1000:/1000:1000\nb:x:1000:2::/:\n"},
	Adversarial{"digits_inside_a_longer_number", "a:x:21000:1::/:\nb:x:10001:1::/:\n"},
	Adversarial{"uid_field_missing_but_text_matches", "a:x:1000\nb:x:1000:5\nc:x:1000:6::/:\n"},
	Adversarial{"nul_before_the_uid", std::string("a:x\0:1000:1::/:\nb:x:1000:2::/:\n", 29)},
	Adversarial{"nul_in_the_shell", std::string("a:x:1000:1::/:s\0h\nb:x:1000:2::/:\n", 33)},
	Adversarial{"nul_ends_before_the_shell", std::string("a:x:1000:1::/\0:\nb:x:1000:2::/:\n", 31)},
	Adversarial{"name_after_a_long_line",
	            std::string(1100, 'q') + "\nalice:x:1:1::/:\n" + std::string(1022, 'r') + "\n"},
	Adversarial{"exactly_1022_and_1023", sized("ok", 1000, 1022) + sized("no", 1000, 1023)},
	Adversarial{"name_is_a_prefix", "alic:x:1:1::/:\nalice:x:2:2::/:\nalice:x:3:3::/:\n"},
	Adversarial{"name_in_another_field", "b:alice:1:1::/:\nc:x:2:2:alice:/:\n\nalice:x:3:3::/:\n"},
	Adversarial{"zero_and_saturated_ids",
	            "z:x:abc:1::/:\nh:x:99999999999:1::/:\nl:x:-99999999999:1::/:\nm:x:2147483647:1::/:\n"},
	Adversarial{"no_final_newline", "a:x:1:1::/:\nb:x:1000:1::/:"},
	Adversarial{"only_newlines", "\n\n\n"},
	Adversarial{"empty", ""}),
	[](const auto &p) { return std::string(p.param.name); });

} // namespace
