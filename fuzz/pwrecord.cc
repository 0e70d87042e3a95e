// SPDX-License-Identifier: ISC
// fuzz_pwrecord - unpacking a stored database record, against a model of
// the record layout.
//
// Input: the value stored under a key. The model, from the layout alone:
// name NUL, password NUL, 4 + 4 id bytes, gecos NUL, home NUL, shell NUL,
// one flag byte, bytes after it ignored; a record whose strings do not end
// inside the value, or that is too short for the ids or the flag, or whose
// strings with their NULs exceed the buffer, is malformed. Checked:
//   - unpack into a 1024-byte buffer succeeds exactly when the model says
//     the record is well formed;
//   - on success every string lies inside the buffer, ends there, and equals
//     the bytes of the value; the ids and the flag are the value's; packing
//     the result gives back the record's bytes;
//   - on failure the record and the flag are untouched;
//   - a buffer of exactly the strings' total size is enough, one byte less
//     is not (both allocated to size, so any write past them is caught).
#include <pwd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "harness.h"
#include "pwpack.h"
#include "pwrecord.h"

namespace {

struct Layout {
	bool ok = false;
	std::string_view strings[5]; // name, password, gecos, home, shell
	std::uint32_t uid = 0, gid = 0;
	char flag = 0;
	std::size_t record = 0; // bytes up to and including the flag
	std::size_t total = 0;  // bytes of the strings with their NULs
};

Layout model(std::string_view v)
{
	Layout l;
	std::size_t at = 0;
	auto string = [&](std::string_view *out) {
		std::size_t nul = v.find('\0', at);
		if (nul == std::string_view::npos)
			return false;
		*out = v.substr(at, nul - at);
		l.total += nul - at + 1;
		at = nul + 1;
		return true;
	};
	if (!string(&l.strings[0]) || !string(&l.strings[1]) || v.size() - at < 8)
		return l;
	std::memcpy(&l.uid, v.data() + at, 4);
	std::memcpy(&l.gid, v.data() + at + 4, 4);
	at += 8;
	if (!string(&l.strings[2]) || !string(&l.strings[3]) || !string(&l.strings[4]) ||
	    at >= v.size())
		return l;
	l.flag = v[at];
	l.record = at + 1;
	l.ok = true;
	return l;
}

// An unpack into a buffer of exactly size bytes; true when it succeeded and
// everything the model says holds, false when it failed and left pw alone.
bool unpack(std::string_view v, std::size_t size, const Layout &want)
{
	std::unique_ptr<char[]> buf(new char[size == 0 ? 1 : size]);
	static char untouched[] = "untouched";
	passwd pw{};
	pw.pw_name = pw.pw_passwd = pw.pw_gecos = pw.pw_dir = pw.pw_shell = untouched;
	pw.pw_uid = pw.pw_gid = 12345;
	char flag = '?';
	if (!account::record::unpack(v.data(), v.size(), buf.get(), size, &pw, &flag)) {
		harness::expect(pw.pw_name == untouched && pw.pw_passwd == untouched &&
		                    pw.pw_gecos == untouched && pw.pw_dir == untouched &&
		                    pw.pw_shell == untouched && pw.pw_uid == 12345 &&
		                    pw.pw_gid == 12345 && flag == '?',
		                "a failed unpack changed the record");
		return false;
	}
	harness::expect(want.ok && want.total <= size,
	                "unpacked a record the layout rejects (buffer %zu, strings %zu)", size,
	                want.total);
	const char *got[5] = {pw.pw_name, pw.pw_passwd, pw.pw_gecos, pw.pw_dir, pw.pw_shell};
	const char *end = buf.get() + size;
	for (int i = 0; i < 5; i++) {
		std::size_t room = got[i] >= buf.get() && got[i] < end
		                       ? static_cast<std::size_t>(end - got[i])
		                       : 0;
		harness::expect(room > 0 && std::memchr(got[i], '\0', room) != nullptr,
		                "string %d is not inside the buffer", i);
		harness::expect(std::string_view(got[i]) == want.strings[i],
		                "string %d differs from the value", i);
	}
	harness::expect(pw.pw_uid == want.uid && pw.pw_gid == want.gid && flag == want.flag,
	                "ids or flag differ from the value");
	harness::expect(account::record::pack(pw, flag) == v.substr(0, want.record),
	                "packing the unpacked record does not give it back");
	return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
	std::string_view value(reinterpret_cast<const char *>(data), size);
	Layout want = model(value);
	bool ok = unpack(value, 1024, want);
	harness::expect(ok == (want.ok && want.total <= 1024), "unpack gave %d, want %d", ok,
	                want.ok && want.total <= 1024);
	if (want.ok) {
		harness::expect(unpack(value, want.total, want), "a buffer of %zu is enough",
		                want.total);
		harness::expect(!unpack(value, want.total - 1, want), "%zu bytes are too few",
		                want.total - 1);
	}
	return 0;
}
