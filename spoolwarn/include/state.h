// SPDX-License-Identifier: ISC
// state.h - which warnings each login has had: spoolwarn's state folder,
// /var/lib/spoolwarn, kept under the lock file in it.
//
// The folder holds:
//   lock             flock(2)ed for the whole of a run
//   state            the marks as of the end of the last run that finished
//   journal          the marks recorded since, one line per change (a run
//                    in progress, or one that was killed or could not write
//                    its state at the end)
//   state.damaged, journal.damaged   files that could not be read as such,
//                    set aside
//   .state.XXXXXX    a new state being written (left by a killed run:
//                    removed by the next)
//
// The state file is text: the line "# spoolwarn state 1", then one line
// per login with marks, "T1,T2,... LOGIN": the thresholds dealt with,
// ascending, a blank, and the login to the end of the line. The journal is
// the line "# spoolwarn journal 1", then records "T1,T2,... LOGIN" (the
// login's marks from then on) or "- LOGIN" (no marks): the last record of
// a login wins, so a record is taken back by another after it. A run gives
// a login at most one letter: it records the marks before the letter is
// handed over, then either takes them back (not sent) or writes the same
// record again, unsynced, once the hand-over has ended (sent, refused, or
// logged as possibly sent). So a login with a single record in the
// journal was being handed over when its run ended: the letter may have
// gone, and the record stands (a journal of an older version, which wrote
// no second record, reads the same). A record cut short at the end (a
// crash or a full disk while it was appended) was never acted upon and is
// ignored. Anything else (a torn or foreign file, a line longer than
// line_max) is damaged: it is renamed aside and counts as empty. Both are
// read a piece at a time, never whole: what a file costs in memory is what
// it records, whatever its size.
//
// A file found in the folder is used only when it is a regular file with
// a single link, owned by the folder's owner; its status is checked before
// it is opened, and again on what was opened. A state or journal found
// otherwise (a symbolic link, a folder, a hard link, another user's file)
// is damaged as above; a lock found otherwise stops the run (open() gives
// unusable). Nothing found is ever written, given another owner or mode:
// a hard link to a file elsewhere cannot be made to change it.
//
// A Store holds the state folder and the lock open: open() takes an
// exclusive flock(2) on the lock file (made with O_EXCL when missing),
// waiting for another run to finish, before anything is read; a read-only
// Store takes a shared lock, and none when there is no lock file yet. The
// lock lasts as long as the Store.
//
// record() appends one line to the journal and fsyncs it (the journal is
// made with O_EXCL, synced with its folder, on the first record of a run):
// its cost does not depend on how many logins the state holds. save()
// writes the whole state to a temporary file created with O_EXCL in the
// folder, fsyncs it, renames it over the state file, fsyncs the folder and
// only then removes the journal: a crash or a full disk leaves the old
// state and its journal or the new state, never a part, and a journal read
// again over the state it was folded into changes nothing. fold() reads a
// journal a run left behind into the marks and, writing, saves them, so
// each run starts without one; a run replaces the state file at most
// twice (that fold and its own save at the end).
//
// Files keep the folder's owner: run as root, every file a run makes in
// the folder is given the folder's owner and group (mode 0600) through
// the descriptor that made it, so a run by root from cron leaves nothing
// the service's own user cannot read or replace. Any other user who does
// not own the folder is refused before anything is made in it
// (state::not_owner).
//
// All calls are relative to the folder's descriptor, never by a path under
// it; the folder may be reached through a link (systemd's StateDirectory=
// with DynamicUser= makes one), nothing in it is. Not thread-safe; no
// diagnostics: errors come back as errno values.
#ifndef SPOOLWARN_STATE_H
#define SPOOLWARN_STATE_H

#include <sys/types.h>

#include <cstddef>
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

// The journal's line for login's marks (none: "- LOGIN").
std::string journal_line(std::string_view login, const std::vector<int> &marks);

// Applies a journal's text to *marks, in order; false when it is damaged
// (*marks then holds the records before the damage: do not use them).
// pending, if given, gets the logins whose letter was being handed over
// (a single record, with marks).
bool replay(std::string_view text, Marks *marks, std::vector<std::string> *pending = nullptr);

struct Store {
	int dir = -1;     // the state folder, or -1
	int lock = -1;    // the lock file, or -1 (read-only, no lock file yet)
	int journal = -1; // the journal this run appends to, or -1 (none yet)
	bool write = false;
	uid_t owner = 0; // the folder's owner and group
	gid_t group = 0;

	Store() = default;
	Store(const Store &) = delete;
	Store &operator=(const Store &) = delete;
	~Store();
};

// What open() returns when the folder belongs to another user than the
// caller (and the caller is not root).
inline constexpr int not_owner = -1;

// What open() returns when the lock file found may not be used (*why says
// why: not a regular file, more than one link, another owner).
inline constexpr int unusable = -2;

// The longest line of the state or the journal, without its newline: the
// longest list of marks (1,2,...,100), a blank and the longest login a
// password file line can hold, with room to spare.
inline constexpr std::size_t line_max = 2048;

// Opens the folder (made, mode 0700, when missing and writing; read-only,
// a missing folder is an empty state) and takes the lock; 0, not_owner
// (writing), unusable, or the errno of what failed (*what names it: the
// folder or the lock file).
int open(const char *folder, bool write, Store *s, const char **what, std::string *why);

enum class Loaded { fresh, read, damaged };

// Reads the state into *out (empty unless Loaded::read). Loaded::damaged:
// the file was set aside (writing) or left alone (read-only); *why says
// what was wrong. Returns -1 with errno when it could not be read at all
// (an I/O error: nothing may be assumed then).
int load(Store &s, Marks *out, Loaded *how, std::string *why);

// Applies the journal left by an earlier run to *marks (as load() read
// them) and, writing, saves them (which removes the journal). *how: fresh
// (no journal), read, or damaged (set aside when writing, *why says why;
// its records are not used). -1 with errno when the journal could not be
// read or the state not saved (*marks then as before, nothing changed).
// pending: as replay() gives it.
int fold(Store &s, Marks *marks, Loaded *how, std::string *why,
         std::vector<std::string> *pending = nullptr);

// Appends login's new marks to the journal and, with sync, syncs it; 0 or
// errno. On an error the journal is cut back to what it was, as far as
// that can be done (at worst a letter counts as sent that was not).
int record(Store &s, std::string_view login, const std::vector<int> &marks, bool sync = true);

// Replaces the state file with marks, atomically, then removes the
// journal (marks must hold all it recorded); 0 or errno.
int save(Store &s, const Marks &marks);

// The file names in the folder.
inline constexpr char file_name[] = "state";
inline constexpr char aside_name[] = "state.damaged";
inline constexpr char journal_name[] = "journal";
inline constexpr char journal_aside_name[] = "journal.damaged";
inline constexpr char lock_name[] = "lock";

} // namespace state

#endif
