// SPDX-License-Identifier: ISC
// limitinfo - the limit in force, and why it is off.
//
// Interface: limitinfo.h. Reads /var/mail/.boxquota through the boxquota
// library, and again itself (read-only, only when the limit is off) to tell
// the administrator why. The library's values always decide; this reading
// only explains them. No diagnostics: an unreadable file is a reason.
#include "limitinfo.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "boxquota.h"
#include "readconfig.h"
#include "regular.h"
#include "rule.h"
#include "sitepaths.h"

namespace limitinfo {

Off explain(const char *path, int min_user, int max_size, int *err)
{
	if (limit::on(min_user, max_size))
		return Off::none;
	errno = 0;
	int fd = regular::open_file(path); // as the library opens it
	FILE *fp = fd < 0 ? nullptr : ::fdopen(fd, "r");
	if (fp == nullptr) {
		*err = errno;
		if (fd >= 0)
			::close(fd);
		return *err == ENOENT ? Off::no_file : Off::unreadable;
	}
	int values[2] = {0, 0};
	int count = limit::read_values(fp, values);
	bool failed = count < 2 && std::ferror(fp);
	int read_errno = errno;
	std::fclose(fp);
	if (failed) {
		*err = read_errno;
		return Off::unreadable;
	}
	if (count == 0)
		return Off::no_values;
	if (count == 1)
		return Off::one_value;
	if (limit::on(values[0], values[1]))
		return Off::changed;
	return values[0] == 0 ? Off::min_zero : Off::max_zero;
}

Limit configured()
{
	Limit l;
	l.min_user = MinLimitUid();
	l.max_size = MailLimit();
	l.off = explain(site::limit_file, l.min_user, l.max_size, &l.err);
	return l;
}

Limit proposed(int min_user, int max_size)
{
	Limit l;
	l.min_user = min_user;
	l.max_size = max_size;
	l.proposed = true;
	if (!limit::on(min_user, max_size))
		l.off = min_user == 0 ? Off::min_zero : Off::max_zero;
	return l;
}

bool on(const Limit &limit)
{
	return limit::on(limit.min_user, limit.max_size);
}

bool covers(const Limit &limit, int uid)
{
	return limit::covers(limit.min_user, limit.max_size, uid);
}

std::string off_text(const Limit &limit)
{
	std::string file = site::limit_file;
	switch (limit.off) {
	case Off::none:
		break;
	case Off::no_file:
		return "no file " + file;
	case Off::unreadable:
		return file + ": " + regular::describe(limit.err);
	case Off::no_values:
		return file + " holds no values";
	case Off::one_value:
		return file + " holds one value only";
	case Off::min_zero:
		return "the lowest uid is 0";
	case Off::max_zero:
		return "the largest size is 0";
	case Off::changed:
		return file + " changed while it was read";
	}
	return "";
}

} // namespace limitinfo
