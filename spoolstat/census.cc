// SPDX-License-Identifier: ISC
// census - the accounts, their mailboxes and the limit's verdict on each.
//
// Interface: census.h. Reads the password file (through the account module
// and, for the readability check, directly), and the file status of each
// mailbox; writes nothing. Each mailbox is measured and judged by the
// verdict (verdict.h), as spoolnag's is: under the limit in force, or under
// a proposed one passed to it. No diagnostics.
#include "census.h"

#include <fcntl.h>
#include <sysexits.h>
#include <unistd.h>

#include <cerrno>
#include <unordered_set>

#include "getpwent.h"
#include "regular.h"
#include "verdict.h"

namespace census {

int unreadable(const char *path)
{
	int fd = regular::open_file(path); // a FIFO or a device fails here
	if (fd < 0)
		return errno;
	char byte;
	int err = ::read(fd, &byte, 1) < 0 ? errno : 0; // a directory fails here
	::close(fd);
	return err;
}

int exit_code(int err)
{
	switch (err) {
	case ENOENT:
	case EACCES:
	case EPERM:
	case ENOTDIR:
	case EISDIR:
	case regular::not_regular:
	case ELOOP:
	case ENAMETOOLONG:
		return EX_NOINPUT;
	case EIO:
		return EX_IOERR;
	default:
		return EX_OSERR;
	}
}

Result take(const limitinfo::Limit &limit)
{
	Result r;
	std::unordered_set<int> seen;
	account::endpwent(); // enumerate from the first line
	while (passwd *pw = account::getpwent()) {
		int uid = static_cast<int>(pw->pw_uid);
		if (!seen.insert(uid).second || !limitinfo::covers(limit, uid))
			continue;
		verdict::Verdict v =
		    limit.proposed
		        ? verdict::judge(*pw, 0, verdict::Limit{limit.min_user, limit.max_size})
		        : verdict::judge(*pw);
		r.accounts.push_back(
		    Account{pw->pw_name, uid, v.size, v.over, verdict::examined(v), v.mtime});
		r.over += v.over;
	}
	r.read_error = account::pwent_error();
	account::endpwent();
	return r;
}

} // namespace census
