// SPDX-License-Identifier: ISC
// state.h - which warnings each login has had: spoolwarn's one state file,
// /var/lib/spoolwarn/state, kept under the lock file beside it.
//
// The file is text: the line "# spoolwarn state 1", then one line per
// login with marks, "T1,T2,... LOGIN": the thresholds dealt with, ascending,
// a blank, and the login to the end of the line. Anything else (a torn or
// foreign file, a link, a folder) is damaged: it is renamed aside to
// state.damaged and counts as empty.
//
// A Store holds the state folder and the lock open: open() takes an
// exclusive flock(2) on the lock file (made with O_NOFOLLOW when missing),
// waiting for another run to finish, before anything is read; a read-only
// Store takes a shared lock, and none when there is no lock file yet. The
// lock lasts as long as the Store. save() writes a temporary file created
// with O_EXCL in the folder, fsyncs it, renames it over the state file and
// fsyncs the folder: a crash or a full disk leaves the old state or the new
// one, never a part. Temporaries left by killed runs are removed by the
// next open() for writing.
//
// All calls are relative to the folder's descriptor, never by a path under
// it; the folder may be reached through a link (systemd's StateDirectory=
// with DynamicUser= makes one), nothing in it is. Not thread-safe; no diagnostics: errors come back as errno values.
#ifndef SPOOLWARN_STATE_H
#define SPOOLWARN_STATE_H

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace state {

// login -> its marks, ascending. Logins without marks are left out.
using Marks = std::map<std::string, std::vector<int>, std::less<>>;

// The text of a state file holding marks.
std::string format(const Marks &marks);

// Reads a state file's text into *out; false when it is damaged.
bool parse(std::string_view text, Marks *out);

struct Store {
	int dir = -1;  // the state folder, or -1
	int lock = -1; // the lock file, or -1 (read-only, no lock file yet)
	bool write = false;

	Store() = default;
	Store(const Store &) = delete;
	Store &operator=(const Store &) = delete;
	~Store();
};

// Opens the folder (made, mode 0700, when missing and writing; read-only,
// a missing folder is an empty state) and takes the lock; 0, or the errno of what failed (*what names it: the folder or
// the lock file).
int open(const char *folder, bool write, Store *s, const char **what);

enum class Loaded { fresh, read, damaged };

// Reads the state into *out (empty unless Loaded::read). Loaded::damaged:
// the file was set aside (writing) or left alone (read-only); *why says
// what was wrong. Returns -1 with errno when it could not be read at all
// (an I/O error: nothing may be assumed then).
int load(Store &s, Marks *out, Loaded *how, std::string *why);

// Replaces the state file with marks, atomically; 0 or errno.
int save(Store &s, const Marks &marks);

// The file names in the folder.
inline constexpr char file_name[] = "state";
inline constexpr char aside_name[] = "state.damaged";
inline constexpr char lock_name[] = "lock";

} // namespace state

#endif
