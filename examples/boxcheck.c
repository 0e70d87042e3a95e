/* SPDX-License-Identifier: ISC */
/*
 * boxcheck - the delivery side's question: may this message still go into
 * the user's system mailbox?
 *
 * Usage: boxcheck LOGIN SIZE
 *
 * A mail delivery agent runs this before appending a message of SIZE bytes
 * to LOGIN's system mailbox. It finds LOGIN with the C library's getpwnam,
 * takes the size of /var/mail/LOGIN (a missing mailbox is empty), adds SIZE
 * and asks libboxquota's OverMailLimit whether the result is over the site's
 * limit. The sum saturates at INT_MAX, the largest size the limit interface
 * takes, so a huge mailbox or message is judged as huge, never wrapped round
 * to a small number. SIZE is a plain decimal byte count.
 *
 * Exit status (sysexits.h):
 *   0             within the limit: deliver
 *   EX_CANTCREAT  over the limit; one line on standard error that begins
 *                 with the enhanced status code 5.2.2, for the bounce
 *   EX_USAGE      wrong arguments
 *   EX_NOUSER     no such user
 *   EX_TEMPFAIL   the mailbox is there but cannot be examined: defer, rather
 *                 than deliver past the limit or bounce for nothing
 * Other messages read "boxcheck: subject: reason" on standard error.
 *
 * Reads the password data (through the C library), the mailbox's status and,
 * through libboxquota, /var/mail/.boxquota once. Writes no file.
 * Single-threaded, like libboxquota.
 */
#define _POSIX_C_SOURCE 200809L

#include <sys/stat.h>

#include <errno.h>
#include <limits.h>
#include <pwd.h>
#include <stdio.h>
#include <string.h>
#include <sysexits.h>

#include <boxquota.h>

/* The mail spool. Its one authoritative definition is spool_dir in
 * common/sitepaths.h of the spoolnag sources; this example repeats it so
 * that it stays a self-contained C program, and the spoolnag test suite
 * holds the two to each other. */
static const char spool_dir[] = "/var/mail/";

/* SIZE: decimal digits only, saturated at INT_MAX. 0 when malformed. */
static int parse_size(const char *s, int *out)
{
	long long v = 0;

	if (*s == '\0')
		return 0;
	for (; *s != '\0'; s++) {
		if (*s < '0' || *s > '9')
			return 0;
		if (v < INT_MAX)
			v = v * 10 + (*s - '0');
	}
	*out = v > INT_MAX ? INT_MAX : (int)v;
	return 1;
}

/* The mailbox's size in bytes, 0 when it does not exist; -1 with errno set
 * when it cannot be examined. */
static long long mailbox_size(const char *path)
{
	struct stat st;

	if (stat(path, &st) == 0)
		return (long long)st.st_size;
	return errno == ENOENT ? 0 : -1;
}

int main(int argc, char *argv[])
{
	int size;

	if (argc != 3 || !parse_size(argv[2], &size)) {
		fputs("usage: boxcheck LOGIN SIZE\n", stderr);
		return EX_USAGE;
	}
	const char *login = argv[1];
	/* A name with a slash would lead out of the spool: no such mailbox. */
	struct passwd *pw = strchr(login, '/') ? NULL : getpwnam(login);
	if (pw == NULL) {
		fprintf(stderr, "boxcheck: %s: no such user\n", login);
		return EX_NOUSER;
	}
	/* Only the uid is needed from here on; getpwnam's record is not kept. */
	int uid = (int)pw->pw_uid; /* compared as a signed 32-bit id */

	char path[4096];
	long long current;
	if ((size_t)snprintf(path, sizeof path, "%s%s", spool_dir, login) >= sizeof path) {
		errno = ENAMETOOLONG;
		current = -1;
	} else {
		current = mailbox_size(path);
	}
	if (current < 0) {
		fprintf(stderr, "boxcheck: %s%s: %s\n", spool_dir, login, strerror(errno));
		return EX_TEMPFAIL;
	}

	/* Both terms are at most INT_MAX here, so the sum cannot overflow. */
	long long after = (current > INT_MAX ? INT_MAX : current) + size;
	if (!OverMailLimit(uid, after > INT_MAX ? INT_MAX : (int)after))
		return 0;
	fprintf(stderr,
	        "5.2.2 mailbox full: %s holds %lld bytes; %d more would"
	        " pass the limit of %d bytes\n",
	        path, current, size, MailLimit());
	return EX_CANTCREAT;
}
