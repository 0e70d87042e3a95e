// SPDX-License-Identifier: ISC
// pwrecord - unpacking the hashed database's account records (pwpack packs
// them).
//
// unpack trusts nothing in the stored value: every string must end inside
// it and the unpacked strings must fit the caller's buffer, or the record
// counts as absent. Stateless; thread-safe.
#include "pwrecord.h"

#include <cstdint>
#include <cstring>

namespace account::record {

namespace {

// Reads one NUL-terminated string at value[*at] into buf[*used]; false when
// it does not end inside the value or does not fit.
bool take_string(const char *value, std::size_t n, std::size_t *at, char *buf, std::size_t size,
                 std::size_t *used, char **out)
{
	const void *nul = std::memchr(value + *at, '\0', n - *at);
	if (nul == nullptr)
		return false;
	std::size_t len =
	    static_cast<std::size_t>(static_cast<const char *>(nul) - (value + *at)) + 1;
	if (len > size - *used)
		return false;
	std::memcpy(buf + *used, value + *at, len);
	*out = buf + *used;
	*used += len;
	*at += len;
	return true;
}

bool take_id(const char *value, std::size_t n, std::size_t *at, std::uint32_t *out)
{
	if (n - *at < sizeof *out)
		return false;
	std::memcpy(out, value + *at, sizeof *out);
	*at += sizeof *out;
	return true;
}

} // namespace

bool unpack(const char *value, std::size_t n, char *buf, std::size_t size, passwd *pw, char *flag)
{
	passwd out{};
	std::uint32_t uid = 0, gid = 0;
	std::size_t at = 0, used = 0;
	if (value == nullptr || !take_string(value, n, &at, buf, size, &used, &out.pw_name) ||
	    !take_string(value, n, &at, buf, size, &used, &out.pw_passwd) ||
	    !take_id(value, n, &at, &uid) || !take_id(value, n, &at, &gid) ||
	    !take_string(value, n, &at, buf, size, &used, &out.pw_gecos) ||
	    !take_string(value, n, &at, buf, size, &used, &out.pw_dir) ||
	    !take_string(value, n, &at, buf, size, &used, &out.pw_shell) || at >= n)
		return false;
	out.pw_uid = uid;
	out.pw_gid = gid;
	*flag = value[at];
	*pw = out;
	return true;
}

} // namespace account::record
