// SPDX-License-Identifier: ISC
// spoolwarn - a letter to each user whose system mailbox nears the limit,
// while mail can still reach them.
//
// Usage: spoolwarn [-n] [-p PERCENT[,PERCENT...]] [-S SENDMAIL] [-w SECONDS]
//
// Walks the accounts of the system's own lookup (one look per login, the
// first line of each), asks the verdict about every mailbox the limit
// applies to, and sends one letter per threshold crossed (thresholds.h)
// through "SENDMAIL -i -f <> LOGIN", or over SMTP with -S smtp:..., given
// -w seconds (default 300) to take it (addressed in the host's mail name,
// mailname.h; the null sender, see sendmail_args). What was sent is kept in
// /var/lib/spoolwarn (state.h), under a lock held for the whole run. A
// letter is recorded (a line appended to the journal and synced) before it
// is handed over, and the record is taken back when it was not taken (a
// temporary refusal, no connection, the deadline before the end of the
// letter): a run killed at any point, or a state that can no longer be
// written, never leads to the same letter twice; a letter not taken is
// tried again by the next run. A letter refused for good (a 5xx to RCPT,
// DATA or the letter; sendmail's EX_NOUSER or EX_DATAERR) is dealt with:
// recorded, logged, never tried again, and no fault of the run. A letter
// handed over without an answer, in this run or in a killed one, stays
// recorded and is logged as one that may not have been sent. A 5xx before
// RCPT refuses this host, not the letter: not sent, and the run exits
// EX_CONFIG. The whole state is written once at the end of the run. -n
// prints the letters due and changes nothing.
//
// Reads /etc/passwd (account module), /var/mail/.boxquota (libboxquota),
// the status of each mailbox (verdict), the letter template, the mail
// name; writes the state folder. Logs one syslog line (LOG_MAIL) per letter sent, per
// decision to record without a letter, and per fault; faults are also told
// on standard error as "spoolwarn: file: reason", unless standard error is
// the journal (JOURNAL_STREAM), which has the syslog line already. Exit status: 0 (also when
// nothing was due), EX_USAGE, EX_NOINPUT, EX_CONFIG, EX_CANTCREAT,
// EX_IOERR, EX_UNAVAILABLE, EX_NOPERM (the state folder belongs to another
// user), EX_CONFIG also when the mail server refuses this host, or
// EX_TEMPFAIL when a letter could not be submitted.
#include <sys/stat.h>
#include <sysexits.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "cmdline.h"
#include "getpwent.h"
#include "letter.h"
#include "limitinfo.h"
#include "mailname.h"
#include "regular.h"
#include "sitepaths.h"
#include "smtp.h"
#include "state.h"
#include "submit.h"
#include "thresholds.h"
#include "verdict.h"

namespace {

const char help_text[] = "Send each user one letter when their system mailbox crosses a share of\n"
                         "the site's mail limit.\n"
                         "\n"
                         "  -n             print the letters due; send nothing, record nothing\n"
                         "  -p PERCENT,... the thresholds, in percent of the limit (default 90)\n"
                         "  -S SENDMAIL    the sendmail program (default /usr/sbin/sendmail)\n"
                         "  -w SECONDS     stop a sendmail that has not finished after this\n"
                         "                 long; the letter is tried again next run (default 300)\n"
                         "      --help     show this help\n"
                         "      --version  show the version\n";

// A file in the state folder, by name.
std::string in_state_dir(const char *name)
{
	return std::string(site::state_dir) + "/" + name;
}

// Whether standard error is the journal's stream (systemd names it in
// JOURNAL_STREAM as DEVICE:INODE), which already gets every syslog line.
bool stderr_is_journal()
{
	const char *stream = std::getenv("JOURNAL_STREAM");
	if (stream == nullptr)
		return false;
	std::string_view s = stream;
	std::size_t colon = s.find(':');
	unsigned long long dev = 0, ino = 0;
	if (colon == std::string_view::npos ||
	    std::from_chars(s.data(), s.data() + colon, dev).ptr != s.data() + colon ||
	    std::from_chars(s.data() + colon + 1, s.data() + s.size(), ino).ptr !=
	        s.data() + s.size())
		return false;
	struct stat st = {};
	return ::fstat(2, &st) == 0 && st.st_dev == dev && st.st_ino == ino;
}

bool quiet_stderr = false; // set by main: standard error is the journal

// A message for the administrator on standard error as "spoolwarn: file:
// reason", unless that is the journal.
void tell(const std::string &file, const std::string &reason)
{
	if (!quiet_stderr)
		std::fprintf(stderr, "spoolwarn: %s: %s\n", file.c_str(), reason.c_str());
}

// A fault: one syslog line, and the same on standard error.
void fault(const std::string &file, const std::string &reason)
{
	syslog(LOG_ERR, "%s: %s", file.c_str(), reason.c_str());
	tell(file, reason);
}

// The template: the installed file, or the built-in text when there is
// none. False after a fault.
bool read_template(std::string *out, int *status)
{
	int fd = regular::open_file(SPOOLWARN_LETTER);
	if (fd < 0) {
		if (errno == ENOENT) {
			*out = letter::default_template;
			return true;
		}
		fault(SPOOLWARN_LETTER, regular::describe(errno));
		*status = EX_NOINPUT;
		return false;
	}
	char buf[4096];
	ssize_t n;
	while ((n = ::read(fd, buf, sizeof buf)) > 0)
		out->append(buf, static_cast<std::size_t>(n));
	int err = n < 0 ? errno : 0;
	::close(fd);
	std::string why;
	if (err != 0) {
		fault(SPOOLWARN_LETTER, std::strerror(err));
		*status = EX_IOERR;
		return false;
	}
	if (!letter::check(*out, &why)) {
		fault(SPOOLWARN_LETTER, why);
		*status = EX_CONFIG;
		return false;
	}
	return true;
}

// 0 when the password file can be read, else errno (getpwent alone cannot
// tell an unreadable file from an empty one).
int passwd_unreadable()
{
	int fd = regular::open_file(site::passwd_file);
	if (fd < 0)
		return errno;
	char byte;
	int err = ::read(fd, &byte, 1) < 0 ? errno : 0;
	::close(fd);
	return err;
}

struct Run {
	cmdline::Options opt;
	std::string tmpl;
	std::string mailname; // the domain of the letters' addresses
	state::Store store;
	state::Marks marks; // as recorded, updated as the walk goes
	std::time_t now = 0;
	int status = EX_OK;
	bool dirty = false;   // marks changed since the state was read
	bool stopped = false; // the state can no longer be written
	bool held = false;    // a sendmail ran out of time: no more letters
	int left = 0;         // letters due but not tried for that
};

// Sets login's marks (none: drops it), in memory only until the next save.
void note(Run &run, const std::string &login, const std::vector<int> &marks)
{
	if (marks.empty())
		run.marks.erase(login);
	else
		run.marks[login] = marks;
	run.dirty = true;
}

// A state file that could not be written: one fault, and no letter may go
// out any more.
void cannot_write(Run &run, const char *name, int err)
{
	fault(in_state_dir(name), std::string("cannot be written: ") + std::strerror(err));
	run.status = err == ENOSPC || err == EDQUOT ? EX_CANTCREAT : EX_IOERR;
	run.stopped = true;
}

// Writes the whole state as it is now (the journal then goes); false after
// a fault.
bool save(Run &run)
{
	if (run.opt.dry_run || !run.dirty)
		return true;
	if (int err = state::save(run.store, run.marks)) {
		cannot_write(run, state::file_name, err);
		return false;
	}
	run.dirty = false;
	return true;
}

// Sets login's marks and records them in the journal at once, so that they
// outlive a crash; false after a fault.
bool record(Run &run, const std::string &login, const std::vector<int> &marks)
{
	note(run, login, marks);
	if (int err = state::record(run.store, login, marks)) {
		cannot_write(run, state::journal_name, err);
		return false;
	}
	return true;
}

// The arguments sendmail gets for a letter to login: no lone dot ends the
// letter; the null sender, which Postfix and Exim let any user set (an
// automatic letter that cannot be delivered must not bounce to an account
// nobody reads, nor loop); and the login, which the server qualifies.
std::vector<std::string> sendmail_args(const std::string &login)
{
	return {"-i", "-f", "<>", login};
}

// What became of a letter handed over.
enum class Outcome {
	sent,
	refused,     // this letter, for good: dealt with, never tried again
	unknown,     // handed over without an answer: it may have gone
	not_sent,    // tried again next run
	turned_away, // the server refuses this host: its set-up, or -S, is wrong
};

// Hands the letter to login over as -S says: to sendmail, or to a mail
// server over SMTP. *late: the deadline ended it, as it would end the
// next one.
Outcome hand_over(const Run &run, const std::string &login, const std::string &text,
                  std::string *why, bool *late)
{
	*late = false;
	if (!run.opt.smtp) {
		switch (submit::run(run.opt.sendmail, sendmail_args(login), text, run.opt.deadline,
		                    why)) {
		case submit::Result::sent:
			return Outcome::sent;
		case submit::Result::refused:
			return Outcome::refused;
		case submit::Result::late:
			*late = true;
			return Outcome::not_sent;
		case submit::Result::failed:
			break;
		}
		return Outcome::not_sent;
	}
	auto start = std::chrono::steady_clock::now();
	smtp::Answer a = smtp::send(*run.opt.smtp, run.mailname, login + "@" + run.mailname, text,
	                            run.opt.deadline, why);
	*late = a != smtp::Answer::sent && a != smtp::Answer::refused &&
	        std::chrono::steady_clock::now() - start >= std::chrono::seconds(run.opt.deadline);
	switch (a) {
	case smtp::Answer::sent:
		return Outcome::sent;
	case smtp::Answer::refused:
		return Outcome::refused;
	case smtp::Answer::unknown:
		return Outcome::unknown;
	case smtp::Answer::turned_away:
		return Outcome::turned_away;
	case smtp::Answer::not_sent:
		break;
	}
	return Outcome::not_sent;
}

// Hands a recorded letter over and acts on the outcome: logs it, and takes
// the record back when the letter was not taken.
void deliver(Run &run, const letter::Facts &facts, const thresholds::Step &step,
             const std::string &text)
{
	std::string login(facts.login), why;
	bool late = false;
	Outcome outcome = hand_over(run, login, text, &why, &late);
	// Each further letter would wait as long, or be turned away as well:
	// they wait for the next run.
	run.held = late || outcome == Outcome::turned_away;
	const char *more = run.held ? ", no more letters in this one" : "";
	switch (outcome) {
	case Outcome::sent:
		syslog(LOG_INFO, "sent: login=%s threshold=%d%% size=%lld limit=%d percent=%lld",
		       login.c_str(), step.letter, facts.size, facts.limit, facts.percent);
		break;
	case Outcome::refused:
		syslog(LOG_WARNING,
		       "refused: login=%s threshold=%d%%: %s %s; recorded as dealt with, not tried "
		       "again",
		       login.c_str(), step.letter, run.opt.sendmail.c_str(), why.c_str());
		tell(run.opt.sendmail, "letter to " + login + " refused: " + why);
		break;
	case Outcome::unknown:
		syslog(LOG_WARNING,
		       "may not have been sent: login=%s threshold=%d%%: %s %s; recorded, not sent "
		       "again%s",
		       login.c_str(), step.letter, run.opt.sendmail.c_str(), why.c_str(), more);
		tell(run.opt.sendmail, "letter to " + login + " may not have been sent: " + why);
		if (run.held)
			run.status = EX_TEMPFAIL;
		break;
	case Outcome::not_sent:
	case Outcome::turned_away:
		run.status = outcome == Outcome::turned_away ? EX_CONFIG : EX_TEMPFAIL;
		syslog(LOG_WARNING,
		       "not sent: login=%s threshold=%d%%: %s %s; %stried again next run%s",
		       login.c_str(), step.letter, run.opt.sendmail.c_str(), why.c_str(),
		       outcome == Outcome::turned_away ? "the server refuses this host; " : "",
		       more);
		tell(run.opt.sendmail, "letter to " + login + " not sent: " + why);
		if (!record(run, login, step.unsent))
			syslog(LOG_ERR,
			       "login=%s: the unsent letter stays recorded and is not retried",
			       login.c_str());
		return;
	}
	// The hand-over is over: the record written again says so, and a run
	// killed from now on leaves nothing to report. Unsynced, and lost
	// without harm: the next run would only report the letter as possibly
	// unsent.
	state::record(run.store, login, step.marks, false);
}

// One login's look: its letter, if one is due, and its new marks.
void look(Run &run, const passwd &pw)
{
	std::string login = pw.pw_name;
	verdict::Verdict v = verdict::judge(pw, 0, verdict::Look::owned);
	auto old = run.marks.find(login);
	std::vector<int> marked = old != run.marks.end() ? old->second : std::vector<int>{};
	if (verdict::blind(v)) {
		// Nothing is known of this mailbox: its marks stay as they are.
		syslog(LOG_WARNING, "%s%s: cannot be examined: %s", site::spool_dir, login.c_str(),
		       verdict::reason(v.error));
		return;
	}
	thresholds::Step step =
	    thresholds::step(run.opt.thresholds, marked, v.size, v.limit.max_size, v.over);
	if (step.letter == 0) {
		if (step.marks != marked) {
			if (v.over && step.marks.size() > marked.size())
				syslog(LOG_INFO, "over: login=%s size=%lld limit=%d: %s",
				       login.c_str(), v.size, v.limit.max_size,
				       "recorded, no letter (it would be refused)");
			// Re-arms and over-limit records wait for the next save: lost
			// with a killed run, the next run finds them again.
			note(run, login, step.marks);
		}
		return;
	}
	if (!letter::safe_login(login)) {
		// Recorded as dealt with, so that it is said once per crossing.
		syslog(LOG_WARNING, "uid=%d: the login is not safe as a mail address: no letter",
		       v.uid);
		note(run, login, step.marks);
		return;
	}
	letter::Facts facts{login,
	                    v.size,
	                    v.limit.max_size,
	                    thresholds::percent(v.size, v.limit.max_size),
	                    step.letter,
	                    thresholds::to_delete(v.size, v.limit.max_size, step.letter),
	                    run.mailname};
	std::string text = letter::compose(run.tmpl, facts, run.now);
	std::vector<std::string> args = sendmail_args(login);
	if (run.opt.dry_run) {
		std::string command = run.opt.sendmail;
		if (run.opt.smtp)
			command.append(" to ").append(login).append("@").append(run.mailname);
		else
			for (const std::string &a : args)
				command.append(" ").append(a);
		std::printf("--- a letter to %s at %d%%: %s\n%s", login.c_str(), step.letter,
		            command.c_str(), text.c_str());
		note(run, login, step.marks);
		return;
	}
	if (run.held) {
		// Unrecorded: the next run sends it.
		++run.left;
		return;
	}
	// Recorded first: once sendmail has it, no crash may make it go twice.
	if (!record(run, login, step.marks))
		return;
	deliver(run, facts, step, text);
}

// Walks every account; false when the walk was cut short.
bool walk(Run &run, int min_uid)
{
	std::set<std::string> seen;
	account::endpwent(); // from the first line
	while (passwd *pw = account::getpwent()) {
		if (static_cast<int>(pw->pw_uid) < min_uid || !seen.insert(pw->pw_name).second)
			continue;
		look(run, *pw);
		if (run.stopped)
			break;
	}
	int read_error = account::pwent_error();
	account::endpwent();
	if (run.stopped)
		return false;
	if (read_error != 0) {
		// The logins after the error were not seen, not gone: their
		// records stay, and what the run recorded is kept.
		fault(site::passwd_file, std::string("read error: ") +
		                             regular::describe(read_error) +
		                             "; the logins after it keep their records");
		save(run);
		run.status = EX_IOERR;
		return false;
	}
	// Logins gone from the password file, or no longer limited, are
	// forgotten: should they come back, they start afresh.
	for (auto it = run.marks.begin(); it != run.marks.end();)
		if (seen.contains(it->first)) {
			++it;
		} else {
			it = run.marks.erase(it);
			run.dirty = true;
		}
	return save(run);
}

// Opens the state folder, takes its lock, reads the state and folds in a
// journal an earlier run left; 0, or the exit status after a fault.
int open_state(Run &run)
{
	const char *what = nullptr;
	std::string why;
	if (int err = state::open(site::state_dir, !run.opt.dry_run, &run.store, &what, &why)) {
		if (err == state::unusable) {
			fault(in_state_dir(state::lock_name),
			      why + ": not used; no run starts until it is removed");
			return EX_CANTCREAT;
		}
		if (err == state::not_owner) {
			fault(site::state_dir,
			      "owned by uid " + std::to_string(run.store.owner) +
			          ": run spoolwarn as that user or as root, not as uid " +
			          std::to_string(::geteuid()));
			return EX_NOPERM;
		}
		std::string file =
		    what == state::lock_name ? in_state_dir(state::lock_name) : std::string(what);
		fault(file, std::strerror(err));
		return EX_CANTCREAT;
	}
	state::Loaded how;
	if (state::load(run.store, &run.marks, &how, &why) != 0) {
		fault(in_state_dir(state::file_name), std::strerror(errno));
		return EX_IOERR;
	}
	if (how == state::Loaded::damaged) {
		std::string said = run.opt.dry_run ? why + "; counted as empty"
		                                   : why + "; set aside as " + state::aside_name +
		                                         ", starting afresh";
		fault(in_state_dir(state::file_name), said);
	}
	// What a killed run, or one that could not write the state at its end,
	// recorded since.
	std::vector<std::string> pending;
	if (state::fold(run.store, &run.marks, &how, &why, &pending) != 0) {
		int err = errno;
		fault(in_state_dir(state::journal_name),
		      std::string("cannot be folded into the state: ") + std::strerror(err));
		return err == ENOSPC || err == EDQUOT ? EX_CANTCREAT : EX_IOERR;
	}
	// A letter a killed run was handing over: said once, as the fold has
	// removed the journal (a dry run leaves it: the next run says it).
	if (run.opt.dry_run)
		pending.clear();
	for (const std::string &login : pending)
		syslog(LOG_WARNING,
		       "may not have been sent: login=%s threshold=%d%%: the run handing it over "
		       "ended before the answer; recorded, not sent again",
		       login.c_str(), run.marks[login].back());
	if (how == state::Loaded::damaged) {
		std::string said = run.opt.dry_run ? why + "; not used"
		                                   : why + "; set aside as " +
		                                         state::journal_aside_name + ", not used";
		fault(in_state_dir(state::journal_name), said);
	}
	return 0;
}

} // namespace

int main(int argc, char *argv[])
{
	Run run;
	std::string error;
	if (!cmdline::parse(argc, argv, &run.opt, &error)) {
		std::fprintf(stderr, "spoolwarn: %s\n%s", error.c_str(), cmdline::usage);
		return EX_USAGE;
	}
	if (run.opt.help) {
		std::fputs(cmdline::usage, stdout);
		std::fputs(help_text, stdout);
		return std::fflush(stdout) == 0 ? EX_OK : EX_IOERR;
	}
	if (run.opt.version) {
		std::puts("spoolwarn " SPOOLWARN_VERSION);
		return std::fflush(stdout) == 0 ? EX_OK : EX_IOERR;
	}
	openlog("spoolwarn", LOG_PID, LOG_MAIL);
	quiet_stderr = stderr_is_journal();
	std::signal(SIGPIPE, SIG_IGN);
	tzset();
	run.now = std::time(nullptr);

	if (int err = passwd_unreadable()) {
		fault(site::passwd_file, regular::describe(err));
		return EX_NOINPUT;
	}
	limitinfo::Limit limit = limitinfo::configured();
	if (!limitinfo::on(limit)) {
		std::string why =
		    "the limit is off (" + limitinfo::off_text(limit) + "): no letters";
		syslog(LOG_NOTICE, "%s", why.c_str());
		tell(site::limit_file, why);
		return EX_OK;
	}
	if (!read_template(&run.tmpl, &run.status))
		return run.status;
	run.mailname = mailname::lookup(site::mailname_file);
	if (!run.opt.dry_run && !run.opt.smtp && ::access(run.opt.sendmail.c_str(), X_OK) != 0) {
		fault(run.opt.sendmail, std::strerror(errno));
		return EX_UNAVAILABLE;
	}

	if (int status = open_state(run))
		return status;
	walk(run, limit.min_user);
	if (run.left > 0)
		syslog(LOG_WARNING, "%d more letters due left for the next run", run.left);
	closelog();
	if (std::fflush(stdout) != 0 && run.status == EX_OK) {
		std::fprintf(stderr, "spoolwarn: standard output: %s\n", std::strerror(errno));
		return EX_IOERR;
	}
	return run.status;
}
