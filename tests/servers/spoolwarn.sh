#!/bin/sh
# SPDX-License-Identifier: ISC
# servers.spoolwarn - spoolwarn's letter through Debian's Postfix, for real.
#
# Postfix, unpacked from Debian's package, runs as root in private mount,
# network and PID namespaces with the sample host bound in (limit 20000
# bytes from uid 1000). alice's mailbox is brought to 95% of the limit;
# bob's is over it. spoolwarn then runs in a sandbox like the service's, through sendmail: an
# unprivileged user (nobody here) whose only extra right is the postdrop
# group, with no way to gain privileges (setpriv --no-new-privs, as
# NoNewPrivileges=yes), umask 077, the system read-only but for Postfix's
# maildrop queue, its state folder a tmpfs over /var/lib, the host named
# mx.example.org (the letter's mail name). Postfix's
# sendmail hands the letter to postdrop, pickup and cleanup take it, and
# local(8) delivers it into /var/mail/alice, addressed to and from the mail
# name and with the null sender (Return-Path: <>); bob gets none (his would be
# refused) and is recorded. A second run sends nothing. Then, afresh, the
# same letter over SMTP (-S smtp:[127.0.0.1]:PORT) with no postdrop group:
# smtpd takes it with the null sender (Return-Path: <>).
. "$(dirname "$0")/lib.sh"

if [ "${1-}" = inside ]; then
	begin_host mx "$WORK/host" "$WORK/syslog"
	start_postfix "$WORK/postfix"
	mount -t tmpfs -o mode=755 tmpfs /var/lib
	mkdir -m 700 /var/lib/spoolwarn
	chown 65534:65534 /var/lib/spoolwarn
	head -c 9000 /dev/zero | tr '\0' a >>/var/mail/alice
	# The mail name is the host name (below); a machine's own /etc/mailname
	# is hidden behind one saying the same.
	if [ -e /etc/mailname ]; then
		echo mx.example.org >"$WORK/mailname"
		mount --bind "$WORK/mailname" /etc/mailname || fail "cannot bind /etc/mailname"
	fi

	# Sandboxed, through sendmail: nobody, group postdrop added, no new privileges,
	# umask 077, and a read-only system but for the maildrop queue
	# (ProtectSystem=strict, ReadWritePaths=) and the state folder.
	run() {
		unshare -m -u --propagation private sh -c '
			mount --bind "$1" "$1" && mount -o remount,bind,ro / || exit 99
			hostname mx.example.org || exit 99
			umask 077
			exec setpriv --reuid=65534 --regid=65534 --groups=103 --no-new-privs \
				"$2/bin/spoolwarn" -S "$2/bin/sendmail"
		' sh "$WORK/postfix/spool/maildrop" "$WORK"
	}
	run || fail "spoolwarn failed with status $?"
	wait_for 60 grep -q '^Subject: Your mailbox is 95% full$' /var/mail/alice ||
		fail "no letter in /var/mail/alice: $(tail -n 20 "$WORK/postfix/maillog")"
	echo "ok: the letter delivered by local(8) into /var/mail/alice"
	letter=$(sed -n '/^Subject: Your mailbox is 95% full$/,$p' /var/mail/alice)
	headers=$(grep -B 20 '^Subject: Your mailbox is 95% full$' /var/mail/alice)
	expect "addressed to alice at the mail name" '^To: alice@mx\.example\.org$' "$headers"
	expect "from postmaster at the mail name" '^From: postmaster@mx\.example\.org$' "$headers"
	expect "the null sender, as local(8) records it" '^Return-Path: <>$' "$headers"
	expect_log "the null sender, as Postfix queued it" 'from=<>, size=' "$WORK/postfix/maillog"
	expect "marked as automatic" '^Auto-Submitted: auto-generated$' "$(grep -A 3 '^Subject: Your' /var/mail/alice)"
	expect "its body" '^\*\* WARNING: system mailbox /var/mail/alice is at 95% of its limit \(19000 of 20000 bytes\)\. \*\*$' "$letter"
	expect_log "spoolwarn logs the letter" \
		'spoolwarn\[[0-9]+\]: sent: login=alice threshold=90% size=19000 limit=20000 percent=95$' \
		"$WORK/syslog"
	expect_log "spoolwarn records bob without a letter" \
		'spoolwarn\[[0-9]+\]: over: login=bob size=30000 limit=20000: recorded, no letter' \
		"$WORK/syslog"
	grep -q 'to=<bob@' "$WORK/postfix/maillog" && fail "a letter went to bob"
	expect "recorded" '^90 alice$' "$(cat /var/lib/spoolwarn/state)"

	run || fail "the second run failed with status $?"
	[ "$(grep -c 'spoolwarn\[[0-9]*\]: sent:' "$WORK/syslog")" = 1 ] ||
		fail "the second run sent again: $(cat "$WORK/syslog")"
	[ -z "$(ls -A "$WORK/postfix/spool/maildrop")" ] || fail "the maildrop queue is not empty"
	[ "$(grep -c '^Subject: Your mailbox is' /var/mail/alice)" = 1 ] ||
		fail "more than one letter in /var/mail/alice"
	echo "ok: a second run sends nothing"

	# Over SMTP, as the shipped unit sends: nobody with no extra group, the
	# whole system read-only, the letter handed to smtpd on the loopback
	# address. The mailbox and the state go back to before the first letter,
	# and the host is named mx.example.org (the letters' domain), in a UTS
	# namespace of its own.
	truncate -s 19000 /var/mail/alice
	rm /var/lib/spoolwarn/state
	unshare -m -u --propagation private sh -c '
		hostname mx.example.org && mount -o remount,bind,ro / || exit 99
		umask 077
		exec setpriv --reuid=65534 --regid=65534 --clear-groups --no-new-privs \
			"$1/bin/spoolwarn" -S "smtp:[127.0.0.1]:2527"
	' sh "$WORK" || fail "spoolwarn -S smtp:[127.0.0.1]:2527 failed with status $?"
	wait_for 60 grep -q '^Subject: Your mailbox is 95% full$' /var/mail/alice ||
		fail "no letter over SMTP in /var/mail/alice: $(tail -n 20 "$WORK/postfix/maillog")"
	headers=$(sed '/^$/q' /var/mail/alice)
	expect "over SMTP, with the null sender" '^Return-Path: <>$' "$headers"
	expect "taken by smtpd" 'by mx\.example\.org \(Postfix\) with ESMTP' "$headers"
	expect "addressed to alice" '^To: alice@' "$headers"
	[ "$(grep -c 'spoolwarn\[[0-9]*\]: sent: login=alice' "$WORK/syslog")" = 2 ] ||
		fail "spoolwarn did not log the letter sent over SMTP: $(cat "$WORK/syslog")"
	expect "recorded" '^90 alice$' "$(cat /var/lib/spoolwarn/state)"
	exit 0
fi

need_namespaces
need_unpacked postfix
begin_work
mkdir "$WORK/bin"
cp "$SPOOLWARN" "$WORK/bin/"
# Postfix's own sendmail, pointed at this instance; its postdrop is not
# set-group-id: the postdrop group is what lets the letter in.
cat >"$WORK/bin/sendmail" <<SENDMAIL
#!/bin/sh
MAIL_CONFIG=$WORK/postfix/conf LD_LIBRARY_PATH=$DEBS/postfix/usr/lib/postfix \\
	exec $DEBS/postfix/usr/sbin/sendmail "\$@"
SENDMAIL
chmod 755 "$WORK/bin" "$WORK/bin/"*
configure_postfix "$WORK/postfix" 2527 "unix:private/none" ""
# pickup(8) takes what postdrop leaves in the maildrop queue.
echo "pickup unix n - n 60 1 pickup" >>"$WORK/postfix/conf/master.cf"
# sendmail runs postdrop with only these variables; the unpacked programs
# need their library folder too.
echo "export_environment = TZ MAIL_CONFIG LANG LD_LIBRARY_PATH" >>"$WORK/postfix/conf/main.cf"

run_host "$WORK/postfix/maillog" "$WORK/syslog"
