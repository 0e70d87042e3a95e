// SPDX-License-Identifier: ISC
// warnings - the checks behind spoolstat's warnings.
//
// Interface: warnings.h. The database is compared through the account
// module: the flat file enumerated with getpwent, each uid then looked up
// with getpwuid, which reads the database alone while it exists. The limit
// file's checks use stat(2) only, on the file and each folder above it, and
// judge by the permission bits as they apply to a user who is neither the
// owner nor in the group: a user the limit applies to is not root, and a
// login group of its own is no reason to read the site's limit.
#include "warnings.h"

#include <grp.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>

#include "dbfiles.h"
#include "getpwent.h"
#include "regular.h"

namespace warnings {
namespace {

const char stale_advice[] =
    " found under another login; spoolnag does not warn them as listed here: run pwdb";
const char unreadable_advice[] =
    ": users it limits cannot read it, so for them (spoolnag, delivery as the user) the "
    "limit is off";

// The pieces one after another.
std::string cat(std::initializer_list<std::string_view> pieces)
{
	std::string r;
	for (std::string_view p : pieces)
		r += p;
	return r;
}

std::string octal(mode_t mode)
{
	char buf[16];
	std::snprintf(buf, sizeof buf, "%04o", static_cast<unsigned>(mode & 07777));
	return buf;
}

std::string group_name(gid_t gid)
{
	if (const group *g = getgrgid(gid))
		return g->gr_name;
	return std::to_string(gid);
}

// Who but root may change what st describes (its owner, its group, anyone).
std::string writers(const struct stat &st)
{
	std::string who;
	auto add = [&who](const std::string &w) {
		if (!who.empty())
			who += ", ";
		who += w;
	};
	if (st.st_uid != 0)
		add("its owner, uid " + std::to_string(st.st_uid));
	if (st.st_mode & S_IWGRP)
		add("group " + group_name(st.st_gid));
	if (st.st_mode & S_IWOTH)
		add("every user");
	return who;
}

// The folders above path, nearest first ("/var/mail", "/var", "/").
std::vector<std::string> folders(const std::string &path)
{
	std::vector<std::string> r;
	std::string p = path;
	for (;;) {
		std::size_t slash = p.find_last_of('/');
		if (slash == std::string::npos)
			break;
		p = slash == 0 ? "/" : p.substr(0, slash);
		r.push_back(p);
		if (p == "/")
			break;
	}
	return r;
}

} // namespace

Database database(const char *path)
{
	Database db;
	db.present = account::db_files_present(path);
	if (!db.present)
		return db;
	std::vector<std::pair<uid_t, std::string>> flat;
	std::unordered_set<uid_t> seen;
	account::endpwent(); // enumerate from the first line
	while (passwd *pw = account::getpwent())
		if (seen.insert(pw->pw_uid).second)
			flat.emplace_back(pw->pw_uid, pw->pw_name);
	account::endpwent();
	for (const auto &[uid, login] : flat) {
		const passwd *pw = account::getpwuid(uid);
		if (pw == nullptr)
			db.missing++;
		else if (login != pw->pw_name)
			db.differs++;
	}
	account::endpwent();
	return db;
}

void add_database(const Database &db, const char *path, std::vector<Warning> *out)
{
	if (!db.present || (db.missing == 0 && db.differs == 0))
		return;
	out->push_back(
	    {"database-stale",
	     cat({"the hashed database of ", path, " is out of step: ", std::to_string(db.missing),
	          " account(s) not found, ", std::to_string(db.differs), stale_advice})});
}

void add_read_error(int err, const char *path, std::vector<Warning> *out)
{
	if (err == 0)
		return;
	out->push_back({"passwd-read-error",
	                cat({path, ": read error: ", regular::describe(err),
	                     ": the accounts after it are missing, the listing is incomplete"})});
}

void add_limit_file(const char *path, std::vector<Warning> *out)
{
	struct stat st = {};
	// A missing file leaves the limit off; whoever may create it can turn
	// it on for everyone.
	bool present = stat(path, &st) == 0;
	if (!present && errno != ENOENT)
		return;
	std::string file = path;
	// What is not a regular file is never read: the limit is off, which the
	// report already says, so its own mode tells nothing. Only the folders
	// through which it can be replaced are worth a word.
	if (present && S_ISREG(st.st_mode)) {
		if (!(st.st_mode & S_IROTH))
			out->push_back({"limit-unreadable",
			                cat({file, ": mode ", octal(st.st_mode), ", owner uid ",
			                     std::to_string(st.st_uid), ", group ",
			                     group_name(st.st_gid), unreadable_advice})});
		std::string who = writers(st);
		if (!who.empty())
			out->push_back({"limit-writable", cat({file, " can be changed by ", who})});
	}

	// Each folder above: searchable by the users, and changeable by root
	// alone. In a sticky folder, only the owner of what it holds may
	// replace it, so a root-owned entry is safe there; but anyone who may
	// write to it may create what is not there.
	bool child_present = present;
	struct stat child = st;
	for (const std::string &dir : folders(file)) {
		struct stat ds;
		if (stat(dir.c_str(), &ds) != 0)
			break;
		if (present && !(ds.st_mode & S_IXOTH))
			out->push_back(
			    {"limit-unreadable", cat({dir, ": mode ", octal(ds.st_mode),
			                              ": users it limits cannot reach ", file,
			                              ", so for them the limit is off"})});
		struct stat shown = ds;
		if ((ds.st_mode & S_ISVTX) && child_present && child.st_uid == 0)
			shown.st_mode &= ~static_cast<mode_t>(S_IWGRP | S_IWOTH);
		std::string who = writers(shown);
		if (!who.empty())
			out->push_back(
			    {"limit-writable",
			     cat({dir, " can be changed by ", who,
			          present ? ", who can replace " : ", who can create ", file})});
		child_present = true;
		child = ds;
	}
}

} // namespace warnings
