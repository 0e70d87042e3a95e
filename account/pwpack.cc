// SPDX-License-Identifier: ISC
// pwpack - packing the hashed database's account records, the inverse of
// pwrecord's unpack. Stateless; thread-safe.
#include "pwpack.h"

#include <cstdint>
#include <cstring>

namespace account::record {

std::string pack(const passwd &pw, char flag)
{
	std::string r;
	auto add = [&r](const char *s) { r.append(s, std::strlen(s) + 1); };
	auto add_id = [&r](std::uint32_t id) {
		r.append(reinterpret_cast<const char *>(&id), sizeof id);
	};
	add(pw.pw_name);
	add(pw.pw_passwd);
	add_id(pw.pw_uid);
	add_id(pw.pw_gid);
	add(pw.pw_gecos);
	add(pw.pw_dir);
	add(pw.pw_shell);
	r.push_back(flag);
	return r;
}

std::string uid_key(uid_t uid)
{
	std::uint32_t id = uid;
	return std::string(reinterpret_cast<const char *>(&id), sizeof id);
}

} // namespace account::record
