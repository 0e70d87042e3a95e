// SPDX-License-Identifier: ISC
// spoolstat - the administrator's report of every mailbox against the
// site's mail limit.
//
// Usage: spoolstat [-a] [-t PERCENT] [--what-if MIN:MAX] [--json]
//
// Prints the limit in force (or that it is off, and why), warnings about
// what makes the users see otherwise (a stale password database, a limit
// file they cannot read or others may change), then one row per
// account over it: login, uid, mailbox size, limit, how far over, share of
// the limit, last change. -a lists every account the limit applies to, -t
// also those at or above PERCENT of it; --what-if judges by a proposed limit
// without touching the configuration; --json writes the same as JSON.
//
// Reads /etc/passwd (through the account module), /var/mail/.boxquota
// (through the boxquota library) and the status of each /var/mail/<login>.
// Writes nothing but the report.
//
// Exit status: 0 nobody over, 1 somebody over, EX_USAGE for a bad command
// line, EX_NOINPUT / EX_IOERR / EX_OSERR when the password file cannot be
// read, EX_IOERR after a read error part way through it (the report, said to
// be incomplete, is still written) or when the report cannot be written.
// Messages on standard error as "spoolstat: file: reason".
#include <sysexits.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "census.h"
#include "limitinfo.h"
#include "listing.h"
#include "options.h"
#include "regular.h"
#include "report.h"
#include "sitepaths.h"
#include "warnings.h"

namespace {

const char help_text[] =
    "Report every system mailbox against the site's mail limit.\n"
    "\n"
    "  -a, --all             list every account the limit applies to\n"
    "  -t, --threshold PERCENT\n"
    "                        also list those at or above PERCENT of the limit\n"
    "      --what-if MIN:MAX judge by a proposed limit: lowest uid MIN,\n"
    "                        largest size MAX bytes (the file is not changed)\n"
    "      --json            write the report as JSON\n"
    "      --help            show this help\n"
    "      --version         show the version\n"
    "\n"
    "Exit status: 0 nobody over the limit, 1 somebody over, 64 and up on error.\n";

// Flushes standard output; EX_IOERR with a message when anything failed.
int finish(int status)
{
	if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
		int err = errno;
		std::fprintf(stderr, "spoolstat: standard output: %s\n",
		             std::strerror(err ? err : EIO));
		return EX_IOERR;
	}
	return status;
}

} // namespace

int main(int argc, char *argv[])
{
	options::Options opt;
	std::string error;
	if (!options::parse(argc, argv, &opt, &error)) {
		std::fprintf(stderr, "spoolstat: %s\n%s", error.c_str(), options::usage);
		return EX_USAGE;
	}
	if (opt.help) {
		std::fputs(options::usage, stdout);
		std::fputs(help_text, stdout);
		return finish(EX_OK);
	}
	if (opt.version) {
		std::puts("spoolstat " SPOOLSTAT_VERSION);
		return finish(EX_OK);
	}

	// getpwent answers "no more accounts" for a file it cannot open too.
	if (int err = census::unreadable(site::passwd_file)) {
		std::fprintf(stderr, "spoolstat: %s: %s\n", site::passwd_file,
		             regular::describe(err));
		return census::exit_code(err);
	}
	tzset();

	report::Summary summary;
	summary.limit = opt.what_if
	                    ? limitinfo::proposed(opt.proposal.min_user, opt.proposal.max_size)
	                    : limitinfo::configured();
	summary.percent = opt.percent;
	summary.database = warnings::database(site::passwd_file);
	warnings::add_database(summary.database, site::passwd_file, &summary.warnings);
	warnings::add_limit_file(site::limit_file, &summary.warnings);
	census::Result result = census::take(summary.limit);
	warnings::add_read_error(result.read_error, site::passwd_file, &summary.warnings);
	summary.limited = result.accounts.size();
	summary.over = result.over;

	std::vector<listing::Row> rows =
	    listing::select(result.accounts, summary.limit, opt.all, opt.percent);

	if (opt.json)
		report::json(stdout, summary, rows);
	else
		report::text(stdout, summary, rows);
	if (result.read_error != 0) {
		std::fprintf(stderr, "spoolstat: %s: read error: %s; the listing is incomplete\n",
		             site::passwd_file, regular::describe(result.read_error));
		return finish(EX_IOERR);
	}
	return finish(result.over > 0 ? 1 : EX_OK);
}
