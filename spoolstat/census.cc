// SPDX-License-Identifier: ISC
// census - the accounts, their mailboxes and the limit's verdict on each.
//
// Interface: census.h. Reads the password file (through the account module
// and, for the readability check, directly), and the file status of each
// mailbox; writes nothing. Sizes and times come from one mailbox::examine
// each; sizes are judged saturated to 32 bits by mailbox::limit_size, as
// spoolnag does. The limit in
// force is asked of the library (OverMailLimit); a proposed one goes through
// the same rule, limit::over. No diagnostics.
#include "census.h"

#include <fcntl.h>
#include <sysexits.h>
#include <unistd.h>

#include <cerrno>
#include <unordered_set>

#include "boxquota.h"
#include "getpwent.h"
#include "mailbox.h"
#include "regular.h"
#include "rule.h"

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
		// A name too long for the path counts as an unexaminable
		// mailbox, never as a shortened path to another one.
		char path[mailbox::path_size];
		mailbox::Status box =
		    mailbox::path(path, pw->pw_name) ? mailbox::examine(path) : mailbox::Status{};
		int judged = mailbox::limit_size(box.size);
		bool over = limit.proposed
		                ? limit::over(limit.min_user, limit.max_size, uid, judged) != 0
		                : OverMailLimit(uid, judged) != 0;
		r.accounts.push_back(
		    Account{pw->pw_name, uid, box.size, over, box.known, box.mtime});
		r.over += over;
	}
	account::endpwent();
	return r;
}

} // namespace census
