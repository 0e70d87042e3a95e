#!/bin/sh
# SPDX-License-Identifier: ISC
# install.example - boxcheck from the build tree on a sample host: in a
# private mount namespace a sample password file is bound over /etc/passwd
# and a sample spool over /var/mail, and boxcheck runs as an unprivileged
# user (setpriv) through a table of cases: within and over the limit, below
# the limited uids, a missing mailbox, sizes that must saturate rather than
# wrap, unknown users, bad usage, a mailbox that cannot be examined, and no
# limit file at all. Needs root; skipped otherwise (failed when CI is set).
. "$(dirname "$0")/lib.sh"

need_root_namespace
[ -d /var/mail ] || skip "/var/mail does not exist to bind over"

# Sample host, readable by the test user.
chmod 755 "$WORK"
cp "$BUILD/examples/boxcheck" "$WORK/boxcheck"
cat >"$WORK/passwd" <<'PW'
root:x:0:0:root:/root:/bin/sh
alice:x:2001:2001:within the limit:/home/alice:/bin/sh
bob:x:2002:2002:no mailbox:/home/bob:/bin/sh
carol:x:1999:1999:below the limited uids:/home/carol:/bin/sh
dave:x:2003:2003:huge mailbox:/home/dave:/bin/sh
erin:x:2004:2004:mailbox cannot be examined:/home/erin:/bin/sh
PW
mkdir "$WORK/mail"
printf '# sample limit\n2000\n500000\n' >"$WORK/mail/.boxquota"
head -c 499000 /dev/zero >"$WORK/mail/alice"
head -c 900000 /dev/zero >"$WORK/mail/carol"
truncate -s 4294967306 "$WORK/mail/dave"   # 4 GiB + 10: wraps to 10 in 32 bits
ln -s erin "$WORK/mail/erin"               # a loop: stat fails with ELOOP
chmod 755 "$WORK/mail"
chmod 644 "$WORK/mail/.boxquota"

# case: arguments | exit status | start of standard error ("" = silent)
cat >"$WORK/cases" <<'CASES'
alice 1000|0|
alice 1001|73|5.2.2 mailbox full: /var/mail/alice holds 499000 bytes
bob 500000|0|
bob 500001|73|5.2.2 mailbox full:
carol 1000000|0|
dave 10|73|5.2.2 mailbox full: /var/mail/dave holds 4294967306 bytes
bob 99999999999999999999999|73|5.2.2 mailbox full:
alice 2147483647|73|5.2.2 mailbox full: /var/mail/alice holds 499000 bytes
nosuch 1|67|boxcheck: nosuch: no such user
../alice 1|67|boxcheck: ../alice: no such user
erin 1|75|boxcheck: /var/mail/erin: Too many levels of symbolic links
|64|usage: boxcheck LOGIN SIZE
alice|64|usage: boxcheck LOGIN SIZE
alice -5|64|usage: boxcheck LOGIN SIZE
alice 12x|64|usage: boxcheck LOGIN SIZE
alice +5|64|usage: boxcheck LOGIN SIZE
alice 1 2|64|usage: boxcheck LOGIN SIZE
CASES

# Runs inside the namespace: binds the sample host, runs every case as bob,
# then once more without a limit file. Prints "args|status|stderr" lines.
cat >"$WORK/inside.sh" <<'IN'
set -eu
work=$1
mount --bind "$work/passwd" /etc/passwd
mount --bind "$work/mail" /var/mail
as_bob() { setpriv --reuid=2002 --regid=2002 --clear-groups env -i PATH=/usr/bin:/bin "$@"; }
while IFS='|' read -r args status msg; do
	rc=0
	# shellcheck disable=SC2086 # the arguments are words
	as_bob "$work/boxcheck" $args >"$work/out" 2>"$work/err" || rc=$?
	echo "$args|$rc|$(cat "$work/out")$(cat "$work/err")|$(wc -l <"$work/err")"
done <"$work/cases"
rm "$work/mail/.boxquota"
rc=0
as_bob "$work/boxcheck" dave 2000000000 >"$work/out" 2>&1 || rc=$?
echo "no limit file|$rc|$(cat "$work/out")|0"
IN
unshare -m --propagation private sh "$WORK/inside.sh" "$WORK" >"$WORK/results" 2>"$WORK/inside.err" ||
	fail "namespace run failed: $(cat "$WORK/inside.err")"

n=0
while IFS='|' read -r args status msg; do
	n=$((n + 1))
	line=$(sed -n "${n}p" "$WORK/results")
	got_status=$(echo "$line" | cut -d'|' -f2)
	got_msg=$(echo "$line" | cut -d'|' -f3)
	got_lines=$(echo "$line" | cut -d'|' -f4)
	expect_eq "boxcheck $args: exit status" "$status" "$got_status"
	if [ -z "$msg" ]; then
		expect_eq "boxcheck $args: output" "" "$got_msg"
	else
		case $got_msg in
		"$msg"*) ;;
		*) fail "boxcheck $args: expected message starting [$msg], got [$got_msg]" ;;
		esac
		expect_eq "boxcheck $args: lines on stderr" 1 "$got_lines"
	fi
done <"$WORK/cases"
expect_eq "without a limit file" "no limit file|0||0" "$(sed -n "$((n + 1))p" "$WORK/results")"
echo "$n cases and the missing limit file behave"
