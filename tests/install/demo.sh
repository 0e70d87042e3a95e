#!/bin/sh
# SPDX-License-Identifier: ISC
# install.demo - scripts/demo.sh: as root it shows bob's warning (and only
# bob's), the "Who are you?" of an unknown uid and the delivery side's 5.2.2
# refusal, exits 0 and removes its sample folder; run by an ordinary user it
# says why it does nothing and still exits 0.
. "$(dirname "$0")/lib.sh"

demo=$SRC/scripts/demo.sh
if [ "$(id -u)" -ne 0 ]; then
	out=$(sh "$demo" "$BUILD") || fail "demo failed without root"
	expect_contains "demo without root" "needs root" "$out"
	skip "the sample host needs root"
fi

need_root_namespace
status=0
out=$(setpriv --reuid=65534 --regid=65534 --clear-groups sh "$demo" "$BUILD" 2>&1) || status=$?
expect_eq "demo as nobody: exit status" 0 "$status"
expect_contains "demo as nobody" "needs root" "$out"

status=0
out=$(sh "$demo" "$BUILD" 2>&1) || status=$?
expect_eq "demo: exit status" 0 "$status"
expect_contains "bob's warning" "** WARNING: system mailbox /var/mail/bob is over quota (6000 bytes). **
** Until YOU make it less then 4097 bytes, you will receive NO MORE MAIL. **" "$out"
expect_lacks "a warning for anyone else" "mailbox /var/mail/alice is over" "$out"
expect_lacks "a warning for anyone else" "mailbox /var/mail/carol is over" "$out"
expect_contains "unknown uid" "Who are you?
[exit status 1]" "$out"
expect_contains "delivery side" "5.2.2 mailbox full: /var/mail/bob" "$out"
sample=$(echo "$out" | sed -n 's/^Sample host in \([^,]*\),.*/\1/p')
[ -n "$sample" ] || fail "demo did not name its sample folder"
[ ! -e "$sample" ] || fail "demo left $sample behind"
echo "demo shows the sample host and cleans up"
