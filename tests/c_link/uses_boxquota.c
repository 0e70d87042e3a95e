/* SPDX-License-Identifier: ISC */
/*
 * A delivery-side caller in plain C: prints what the limit library answers.
 * Usage: uses_boxquota UID SIZE
 */
#include <stdio.h>
#include <stdlib.h>

#include "boxquota.h"

int main(int argc, char **argv)
{
	if (argc != 3)
		return 64;
	int uid = atoi(argv[1]);
	int size = atoi(argv[2]);
	printf("%d %d %d\n", MinLimitUid(), MailLimit(), OverMailLimit(uid, size));
	return 0;
}
