// SPDX-License-Identifier: ISC
// fuzz_flatfile - the flat password file reader and the lookups over it,
// against a line-by-line model of the format.
//
// Input: the content of a password file, written to a scratch file that the
// account module reads (setpwfile; no database beside it). The model, written
// from the format alone: a line counts only when it ends in '\n' and holds at
// most 1022 characters before it; it is read as a C string (a NUL ends it,
// newline included); it is split at ':' and '\n' and needs seven fields,
// which a six-field line has thanks to its newline; ids read like atoi,
// saturated to 32 bits. Checked against it:
//   - getpwent returns the accepted lines in order, then none, and none again;
//   - getpwuid and getpwnam return the first accepted line with that uid or
//     name, and none for an absent one;
//   - with stay-open on, a keyed lookup leaves the enumeration after the line
//     it found (or at the end when it found none);
//   - run as root, the password is the privileged retrieval's: the text at
//     the byte offset the field names, up to a ':' within 48 bytes, else the
//     field as stored.
// The same input is read a second time behind padding that puts the end of
// the reader's first block (flat::block_size) inside it, checked by
// enumeration.
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "flatfile.h"
#include "getpwent.h"
#include "harness.h"

namespace {

struct Account {
	std::string name, passwd;
	int uid = 0, gid = 0;
	std::string gecos, dir, shell;
};

bool blank(char c)
{
	return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The leading decimal number of s as atoll reads it, saturated to +-2^40
// (enough for ids and file offsets here); 0 when there is none.
std::int64_t leading(std::string_view s)
{
	std::size_t i = 0;
	while (i < s.size() && blank(s[i]))
		i++;
	bool negative = false;
	if (i < s.size() && (s[i] == '+' || s[i] == '-'))
		negative = s[i++] == '-';
	std::int64_t magnitude = 0;
	for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; i++)
		magnitude =
		    std::min<std::int64_t>(magnitude * 10 + (s[i] - '0'), std::int64_t{1} << 40);
	return negative ? -magnitude : magnitude;
}

int id(std::string_view s)
{
	std::int64_t v = leading(s);
	return v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : static_cast<int>(v);
}

std::vector<Account> model(std::string_view file)
{
	std::vector<Account> out;
	for (std::size_t at = 0, nl; (nl = file.find('\n', at)) != std::string_view::npos;
	     at = nl + 1) {
		if (nl - at > 1022)
			continue;
		// The line as a C string, newline included unless a NUL comes first.
		std::string text(file.substr(at, nl + 1 - at));
		std::vector<std::string> fields;
		fields.reserve(8);
		for (const char *p = text.c_str();; p++) {
			std::size_t n = std::strcspn(p, ":\n");
			fields.emplace_back(p, n);
			p += n;
			if (*p == '\0')
				break;
		}
		if (fields.size() < 7)
			continue;
		out.push_back(Account{fields[0], fields[1], id(fields[2]), id(fields[3]), fields[4],
		                      fields[5], fields[6]});
	}
	return out;
}

// The password a caller sees: as root, the text the retrieval finds.
std::string password(const Account &a, std::string_view file)
{
	if (::geteuid() != 0)
		return a.passwd;
	std::int64_t offset = leading(a.passwd);
	if (offset < 0 || static_cast<std::uint64_t>(offset) >= file.size())
		return a.passwd;
	std::string text(file.substr(static_cast<std::size_t>(offset), 49));
	text.resize(std::strlen(text.c_str()));
	std::size_t colon = text.find(':');
	return colon == std::string::npos ? a.passwd : text.substr(0, colon);
}

void same(const passwd *got, const Account *want, std::string_view file, const char *call)
{
	if (want == nullptr) {
		harness::expect(got == nullptr, "%s: found \"%s\", want none", call,
		                got != nullptr ? got->pw_name : "");
		return;
	}
	if (got == nullptr)
		harness::fail("%s: none, want \"%s\"", call, want->name.c_str());
	std::string pass = password(*want, file);
	harness::expect(
	    got->pw_name == want->name && got->pw_passwd == pass &&
	        got->pw_uid == static_cast<uid_t>(want->uid) &&
	        got->pw_gid == static_cast<gid_t>(want->gid) && got->pw_gecos == want->gecos &&
	        got->pw_dir == want->dir && got->pw_shell == want->shell,
	    "%s: got %s:%s:%d:%d:%s:%s:%s, want %s:%s:%d:%d:%s:%s:%s", call, got->pw_name,
	    got->pw_passwd, static_cast<int>(got->pw_uid), static_cast<int>(got->pw_gid),
	    got->pw_gecos, got->pw_dir, got->pw_shell, want->name.c_str(), pass.c_str(), want->uid,
	    want->gid, want->gecos.c_str(), want->dir.c_str(), want->shell.c_str());
}

// getpwent from the first line: every accepted line, then none twice.
void enumerate(const std::vector<Account> &want, std::string_view file)
{
	account::endpwent();
	for (const Account &a : want)
		same(account::getpwent(), &a, file, "getpwent");
	same(account::getpwent(), nullptr, file, "getpwent at the end");
	same(account::getpwent(), nullptr, file, "getpwent past the end");
	account::endpwent();
}

// Index of the first account with this uid or name; want.size() if none.
std::size_t first_uid(const std::vector<Account> &want, uid_t uid)
{
	std::size_t i = 0;
	while (i < want.size() && static_cast<uid_t>(want[i].uid) != uid)
		i++;
	return i;
}

std::size_t first_name(const std::vector<Account> &want, const std::string &name)
{
	std::size_t i = 0;
	while (i < want.size() && want[i].name != name)
		i++;
	return i;
}

const Account *nth(const std::vector<Account> &want, std::size_t i)
{
	return i < want.size() ? &want[i] : nullptr;
}

void keyed(const std::vector<Account> &want, std::string_view file)
{
	// A few ids and names that are absent unless the input has them.
	std::set<uid_t> uids{0, 4242, static_cast<uid_t>(-1)};
	std::set<std::string> names{"", "root", "no-such-user"};
	for (std::size_t i = 0; i < want.size() && i < 24; i++) {
		uids.insert(static_cast<uid_t>(want[i].uid));
		names.insert(want[i].name);
	}
	for (uid_t uid : uids)
		same(account::getpwuid(uid), nth(want, first_uid(want, uid)), file, "getpwuid");
	for (const std::string &name : names)
		same(account::getpwnam(name.c_str()), nth(want, first_name(want, name)), file,
		     "getpwnam");
}

// With stay-open on and no database a keyed lookup moves the enumeration to
// just after the line it found, or to the end.
void stay_open(const std::vector<Account> &want, std::string_view file)
{
	account::endpwent();
	harness::expect(account::setpassent(1) == 1, "setpassent(1) failed");
	same(account::getpwent(), nth(want, 0), file, "getpwent after setpassent");
	uid_t uid = want.size() > 1 ? static_cast<uid_t>(want[1].uid) : 4242;
	std::size_t found = first_uid(want, uid);
	same(account::getpwuid(uid), nth(want, found), file, "getpwuid, stay-open");
	same(account::getpwent(), nth(want, found + 1), file, "getpwent after a lookup");
	account::setpassent(0);
	account::endpwent();
}

// Lines of '#' (one field: never accepted) adding up to n bytes.
std::string padding(std::size_t n)
{
	std::string pad;
	while (pad.size() < n) {
		std::size_t line = std::min<std::size_t>(n - pad.size(), 1000);
		pad.append(line - 1, '#');
		pad += '\n';
	}
	return pad;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
	static harness::Scratch scratch;
	static const std::string path = scratch.path("passwd");
	account::setpwfile(path.c_str());

	std::string_view input(reinterpret_cast<const char *>(data), size);
	harness::put_file(path, input);
	std::vector<Account> want = model(input);
	enumerate(want, input);
	keyed(want, input);
	stay_open(want, input);

	// The reader takes the file in blocks of flat::block_size: put a block
	// boundary somewhere inside the input, at a place that depends on it.
	constexpr std::size_t block = account::flat::block_size;
	std::size_t split = 0;
	if (size > 0)
		split =
		    (static_cast<std::size_t>(data[0]) * 131 + size) % (std::min(size, block) + 1);
	std::string padded = padding(block - split);
	padded.append(input);
	harness::put_file(path, padded);
	enumerate(model(padded), padded);
	return 0;
}
