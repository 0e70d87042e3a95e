/* SPDX-License-Identifier: ISC */
/* judge.c - the verdict's C entry (verdict_c.h) as Dovecot's quota backend
 * meets it, in a private /var/mail that run.sh makes: the mailbox counted
 * as the refusal side counts it, the sum judged, the limit file read again
 * within one process as soon as it changes, and a login that names no
 * mailbox. Prints each failed check; exits 1 when any failed. */
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include "verdict_c.h"

static int failed;

static void check(int ok, const char *what)
{
	if (!ok) {
		printf("FAIL: %s\n", what);
		failed = 1;
	}
}

/* Writes text into path in place, as an editor that keeps the inode does. */
static void put(const char *path, const char *text)
{
	FILE *fp = fopen(path, "w");

	if (fp == NULL || fputs(text, fp) == EOF || fclose(fp) != 0) {
		perror(path);
		exit(2);
	}
}

int main(void)
{
	struct verdict_c v;

	put("/var/mail/.boxquota", "# test\n100\n5000\n");
	verdict_c_judge("alice", 1001, 2000, &v);
	check(v.error == 0 && v.size == 3000, "alice's mailbox of 3000 bytes counted");
	check(v.covered == 1 && v.min_uid == 100 && v.max_size == 5000,
	      "alice covered by 100/5000");
	check(v.over == 0, "3000 + 2000 is within 5000");
	verdict_c_judge("alice", 1001, 2001, &v);
	check(v.over == 1, "3000 + 2001 is over 5000");
	verdict_c_judge("alice", 99, 1000000, &v);
	check(v.covered == 0 && v.over == 0, "uid 99 is not covered");

	/* The same process sees the file's new values at once: in place, and
	   replaced by another file. */
	put("/var/mail/.boxquota", "100\n4000\n");
	verdict_c_judge("alice", 1001, 1001, &v);
	check(v.max_size == 4000 && v.over == 1, "a limit changed in place is seen");
	put("/var/mail/.boxquota.new", "100\n0\n");
	if (rename("/var/mail/.boxquota.new", "/var/mail/.boxquota") != 0)
		return 2;
	verdict_c_judge("alice", 1001, 1000000, &v);
	check(v.covered == 0 && v.over == 0, "a replaced file turning the limit off is seen");
	unlink("/var/mail/.boxquota");
	verdict_c_judge("alice", 1001, 1000000, &v);
	check(v.covered == 0 && v.max_size == 0, "no file: no limit");

	/* A negative largest size: every covered mailbox is over. */
	put("/var/mail/.boxquota", "100\n-1\n");
	verdict_c_judge("carol", 1003, 0, &v);
	check(v.error == ENOENT && v.size == 0, "carol has no mailbox");
	check(v.covered == 1 && v.over == 1, "a negative limit makes even no mailbox over");

	/* Only a regular file of the account counts. */
	put("/var/mail/.boxquota", "100\n5000\n");
	verdict_c_judge("bob", 1002, 0, &v);
	check(v.size == 0 && v.error != 0 && v.over == 0,
	      "bob's mailbox owned by another is not counted");
	verdict_c_judge("../var/mail/alice", 1001, 4000, &v);
	check(v.error == EINVAL && v.size == 0, "a login with '/' names no mailbox");
	check(v.covered == 1 && v.over == 0, "and is judged on what comes in alone");
	verdict_c_judge("", 1001, 5001, &v);
	check(v.error == EINVAL && v.over == 1, "an empty login: 5001 incoming is over 5000");
	if (!failed)
		puts("ok");
	return failed;
}
