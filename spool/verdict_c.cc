// SPDX-License-Identifier: ISC
// verdict_c - the verdict for C callers (verdict_c.h).
//
// The limit values come from /var/mail/.boxquota read as libboxquota reads
// it (limit::load_values: the first value the lowest
// uid, the second the largest size, fewer than two turning the limit off),
// but again whenever the file changed, since the callers live long. The
// mailbox is measured and judged by verdict::judge alone, under those values.
#include "verdict_c.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "readconfig.h"
#include "rule.h"
#include "sitepaths.h"
#include "verdict.h"

namespace {

// What one stat of the limit file tells, enough to see that it changed.
struct Stamp {
	int error = -1; // errno of the failed stat; -1 before the first look
	dev_t dev = 0;
	ino_t ino = 0;
	off_t size = 0;
	timespec mtime = {};
	timespec ctime = {};
};

bool same(const timespec &a, const timespec &b)
{
	return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool same(const Stamp &a, const Stamp &b)
{
	return a.error == b.error && a.dev == b.dev && a.ino == b.ino && a.size == b.size &&
	       same(a.mtime, b.mtime) && same(a.ctime, b.ctime);
}

Stamp stamp(const char *path)
{
	Stamp s;
	struct stat st = {};
	if (::stat(path, &st) != 0) {
		s.error = errno;
		return s;
	}
	s.error = 0;
	s.dev = st.st_dev;
	s.ino = st.st_ino;
	s.size = st.st_size;
	s.mtime = st.st_mtim;
	s.ctime = st.st_ctim;
	return s;
}

// The values as libboxquota would load them from path now.
verdict::Limit read_limit(const char *path)
{
	verdict::Limit l;
	int values[2] = {0, 0};
	int count = limit::load_values(path, values);
	if (count >= 1)
		l.min_uid = values[0];
	if (count == 2)
		l.max_size = values[1];
	return l;
}

time_t now()
{
	timespec ts = {};
	::clock_gettime(CLOCK_MONOTONIC, &ts);
	return ts.tv_sec;
}

// The last reading, process-wide.
Stamp last_stamp;
time_t last_read = 0;
verdict::Limit last_limit;

const verdict::Limit &current_limit()
{
	Stamp s = stamp(site::limit_file);
	time_t t = now();
	if (!same(s, last_stamp) || last_stamp.error == -1 || t - last_read >= VERDICT_C_REREAD) {
		last_limit = read_limit(site::limit_file);
		last_stamp = s;
		last_read = t;
	}
	return last_limit;
}

// Whether login can name a file of its own in the spool: not empty, not
// "." or "..", no '/'.
bool spool_name(const char *login)
{
	return login != nullptr && login[0] != '\0' && std::strcmp(login, ".") != 0 &&
	       std::strcmp(login, "..") != 0 && std::strchr(login, '/') == nullptr;
}

} // namespace

extern "C" void verdict_c_judge(const char *login, uid_t uid, long long incoming,
                                struct verdict_c *out)
{
	const verdict::Limit &l = current_limit();
	bool named = spool_name(login);
	// A login that names no mailbox is judged as the spool folder itself,
	// which never counts (not a regular file): size 0, the limit still
	// applied to what comes in.
	passwd pw = {};
	pw.pw_name = const_cast<char *>(named ? login : "");
	pw.pw_uid = uid;
	verdict::Verdict v = verdict::judge(pw, incoming, l, verdict::Look::owned);
	out->size = v.size;
	out->incoming = v.incoming;
	out->error = named ? v.error : EINVAL;
	out->min_uid = l.min_uid;
	out->max_size = l.max_size;
	out->covered = limit::covers(l.min_uid, l.max_size, v.uid) ? 1 : 0;
	out->over = v.over ? 1 : 0;
}
