#!/bin/sh
# SPDX-License-Identifier: ISC
# servers.postfix - boxpolicy in front of Debian's Postfix, and behind its
# local delivery, for real.
#
# Postfix, unpacked from Debian's package, runs as root in private mount,
# network and PID namespaces: its own configuration, queue and data folders
# here, the sample host's passwd, group and spool bound in, listening on
# 127.0.0.1 only, with boxpolicy as a spawn(8) service asked in
# smtpd_recipient_restrictions and smtpd_end_of_data_restrictions, with
# default_action=DUNNO, and by local(8) as the socketmap table boxquota of
# mailbox_transport_maps. An SMTP client then shows: a recipient over the
# limit is refused at RCPT (552 5.2.2); one within it is refused at RCPT
# when SIZE= would take the mailbox over, and at the end of the data when
# no SIZE= was given. Every other road into bob's full mailbox (an alias, a
# message submitted with sendmail(1), another user's .forward, a bounce)
# is refused at delivery and leaves it byte for byte as it was, while the
# same roads into alice's deliver; mail to a user with a .forward follows
# it even when her own mailbox is full. A message to two recipients takes
# alice over the limit; after it nothing more lands in her mailbox by any
# road, and spoolnag run as alice warns. Then the policy service is broken: the
# SMTP check lets mail through (fail open), but local(8) keeps it in the
# queue (fail safe) and, once the service is back, delivers the message to
# a user within the limit and bounces the one to the full mailbox.
# boxpolicy's refusals reach syslog.
. "$(dirname "$0")/lib.sh"

# pfx COMMAND [ARG...]: one of Postfix's commands, on this instance.
pfx()
{
	command=$1
	shift
	MAIL_CONFIG=$WORK/postfix/conf LD_LIBRARY_PATH=$DEBS/postfix/usr/lib/postfix \
		"$DEBS/postfix/usr/sbin/$command" "$@"
}

# submit FROM TO MARK: a small message submitted on the host with sendmail(1).
submit()
{
	printf 'From: %s\nTo: %s\nSubject: %s\n\n%s\n' "$1" "$2" "$3" "$3" |
		pfx sendmail -f "$1" "$2" 2>"$WORK/sendmail.err" ||
		fail "sendmail -f $1 $2: $(cat "$WORK/sendmail.err")"
}

# The queue holds no message.
queue_empty()
{
	[ -z "$(find "$WORK/postfix/spool/incoming" "$WORK/postfix/spool/active" \
		"$WORK/postfix/spool/deferred" "$WORK/postfix/spool/maildrop" -type f)" ]
}

# roads USER ALIAS FORWARDER MARK: mail into USER's mailbox by each road
# but SMTP RCPT to USER: SMTP to an alias, sendmail(1), SMTP to another
# user whose .forward points at USER, and a bounce (a message from USER to
# an unknown user submitted on the host); then waits until the queue is
# empty.
roads()
{
	out=$(smtp 2525 -- mail:s@example.net "rcpt:$2@example.org" "data:600:$4-alias" \
		rset mail:s@example.net "rcpt:$3@example.org" "data:600:$4-forward")
	expect "$1, alias: accepted at SMTP" "^data:600:$4-alias -> 250 " "$out"
	expect "$1, .forward: accepted at SMTP" "^data:600:$4-forward -> 250 " "$out"
	submit s@example.net "$1" "$4-sendmail"
	submit "$1@example.org" nosuch "$4-bounce"
	wait_for 60 queue_empty || fail "the queue did not empty: $(tail -n 20 "$WORK/postfix/maillog")"
}

if [ "${1-}" = inside ]; then
	begin_host mx "$WORK/host" "$WORK/syslog"
	start_postfix "$WORK/postfix"

	mark=$(date +%s)-$$
	out=$(smtp 2525 -- mail:s@example.net rcpt:bob@example.org)
	expect "over the limit: refused at RCPT" \
		'^rcpt:bob@example.org -> 552 5\.2\.2 <bob@example.org>: Recipient address rejected: Mailbox of <bob@example.org> is full$' "$out"
	expect_log "boxpolicy logs the refusal" \
		'boxpolicy\[[0-9]+\]: reject: RCPT recipient=<bob@example.org> uid=1002 mailbox=30000 size=0 limit=20000: 552 5\.2\.2' \
		"$WORK/syslog"

	out=$(smtp 2525 -- mail:s@example.net:15000 rcpt:alice+box@example.org \
		rcpt:Alice@EXAMPLE.org rset mail:s@example.net:9000 rcpt:alice@example.org rset \
		mail:s@example.net rcpt:alice@example.org data:15000:too-big-$mark)
	expect "SIZE= past the limit: refused at RCPT (address extension)" \
		'^rcpt:alice\+box@example.org -> 552 5\.2\.2 ' "$out"
	expect "SIZE= past the limit: refused at RCPT (capitals)" \
		'^rcpt:Alice@EXAMPLE.org -> 552 5\.2\.2 ' "$out"
	[ "$(printf '%s\n' "$out" | grep -c '^rcpt:alice@example.org -> 250 ')" = 2 ] ||
		fail "alice within the limit, with and without SIZE=: not accepted at RCPT: $out"
	expect "no SIZE=, too large: refused at the end of the data" \
		'^data:15000:too-big-[^ ]* -> 552 5\.2\.2 .*Mailbox of <alice@example.org> is full' "$out"

	# Every other road: refused at delivery into bob's full mailbox, and
	# delivered into alice's.
	bob=$(snapshot_of /var/mail/bob)
	roads bob info frank "$mark-bob"
	cmp -s /var/mail/bob "$bob" || fail "a road reached bob's full mailbox: $(grep '^Subject' /var/mail/bob)"
	echo "ok: bob's mailbox byte for byte as it was after alias, sendmail, .forward, bounce"
	for orig in info@example.org frank@example.org bob; do
		expect_log "bob by way of <$orig>: bounced at delivery" \
			"to=<bob@example.org>, orig_to=<$orig>, relay=none, .*dsn=5\\.2\\.2, status=bounced \\(Mailbox of <bob> is full\\)" \
			"$WORK/postfix/maillog"
	done
	refused=$(grep -c 'to=<bob@example.org>.* status=bounced (Mailbox of <bob> is full)' \
		"$WORK/postfix/maillog")
	[ "$refused" -ge 4 ] || fail "bob: $refused refusals at delivery, not 4 (the bounce)"
	expect_log "boxpolicy logs the refusal at delivery" \
		'boxpolicy\[[0-9]+\]: reject: LOOKUP recipient=<bob> uid=1002 mailbox=30000 size=0 limit=20000: error:5\.2\.2 Mailbox of <bob> is full' \
		"$WORK/syslog"
	roads alice help grace "$mark-alice"
	for road in alias forward sendmail bounce; do
		grep -q "^Subject: .*$mark-alice-$road" /var/mail/alice ||
			fail "alice by $road: not delivered: $(tail -n 20 "$WORK/postfix/maillog")"
		echo "ok: alice by $road: delivered"
	done

	# A user with a .forward is left to it, even with a full mailbox of
	# her own: local(8) asks the table only for mail it puts in a mailbox.
	head -c 30000 /dev/zero | tr '\0' g >/var/mail/grace
	chown 1005:8 /var/mail/grace
	submit s@example.net grace "$mark-forwarder-full"
	wait_for 60 queue_empty || fail "the queue did not empty"
	grep -q "^Subject: $mark-forwarder-full" /var/mail/alice ||
		fail "mail to grace, whose mailbox is full, did not follow her .forward"
	echo "ok: a user with a .forward and a full mailbox: the mail follows the .forward"
	# (The SMTP check refuses her at RCPT: it knows nothing of .forward.)
	rm /var/mail/grace

	# Two recipients, no SIZE=: not judged at the end of the data; the
	# message takes alice over the limit, and after it nothing more lands.
	size=$(stat -c %s /var/mail/alice)
	out=$(smtp 2525 -- mail:s@example.net rcpt:alice@example.org rcpt:carol@example.org \
		data:$((20000 - size + 1000)):two-$mark)
	expect "two recipients: accepted" '^data:[0-9]+:two-[^ ]* -> 250 ' "$out"
	wait_for 60 queue_empty || fail "the queue did not empty"
	grep -q "two-$mark" /var/mail/alice || fail "the two-recipient message did not reach alice"
	[ "$(stat -c %s /var/mail/alice)" -gt 20000 ] || fail "/var/mail/alice is not over the limit"
	warning=$(setpriv --reuid=1001 --regid=1001 --clear-groups "$WORK/bin/spoolnag")
	expect "spoolnag warns alice" \
		'^\*\* WARNING: system mailbox /var/mail/alice is over quota \([0-9]+ bytes\)\. \*\*$' \
		"$warning"
	alice=$(snapshot_of /var/mail/alice)
	out=$(smtp 2525 -- mail:s@example.net rcpt:alice@example.org)
	expect "the next RCPT is refused" '^rcpt:alice@example.org -> 552 5\.2\.2 ' "$out"
	roads alice help grace "$mark-full"
	cmp -s /var/mail/alice "$alice" || fail "a road reached alice's full mailbox"
	echo "ok: after the message that took alice over, no road reaches her mailbox"

	# The service broken: the SMTP check fails open, local(8) fails safe
	# and keeps the mail in the queue until the service is back.
	break_policy "$WORK/postfix"
	bob=$(snapshot_of /var/mail/bob)
	out=$(smtp 2525 -- mail:s@example.net rcpt:bob@example.org data:1000:open-$mark \
		rset mail:s@example.net rcpt:carol@example.org data:1000:kept-$mark)
	expect "policy service broken: RCPT accepted" '^rcpt:bob@example.org -> 250 ' "$out"
	expect "policy service broken: message accepted" '^data:1000:open-[^ ]* -> 250 ' "$out"
	expect_log "Postfix saw the broken service" 'warning: .*private/boxpolicy' \
		"$WORK/postfix/maillog"
	expect_log "local(8) defers while the map cannot be asked" \
		'to=<carol@example.org>.*status=deferred' "$WORK/postfix/maillog"
	sleep 3
	grep -q "kept-$mark" /var/mail/carol && fail "delivered to carol without asking the map"
	cmp -s /var/mail/bob "$bob" || fail "delivered to bob without asking the map"
	mend_policy "$WORK/postfix"
	# A message in delivery across the reload is left for a later scan:
	# the queue manager is told to scan at once, ignoring retry times.
	wait_for 60 sh -c 'test -z "$(find "$1/incoming" "$1/active" "$1/deferred" -type f)" ||
		{ LD_LIBRARY_PATH=$2/usr/lib/postfix MAIL_CONFIG=$3 "$2/usr/sbin/postkick" public qmgr IDA; exit 1; }' \
		sh "$WORK/postfix/spool" "$DEBS/postfix" "$WORK/postfix/conf" || fail "the deferred mail was not delivered: $(tail -n 20 "$WORK/postfix/maillog")"
	grep -q "kept-$mark" /var/mail/carol || fail "the kept message did not reach carol"
	echo "ok: service back: the kept message delivered to carol"
	cmp -s /var/mail/bob "$bob" || fail "the kept message reached bob's full mailbox"
	echo "ok: service back: the kept message to bob refused, bob's mailbox unchanged"
	exit 0
fi

need_namespaces
need_unpacked postfix
begin_work
# frank forwards his mail to bob, grace hers to alice.
echo 'frank:x:1004:1004:forwards to bob:/nonexistent:/bin/sh' >>"$WORK/host/passwd"
echo 'grace:x:1005:1005:forwards to alice:/nonexistent:/bin/sh' >>"$WORK/host/passwd"
printf 'frank:x:1004:\ngrace:x:1005:\n' >>"$WORK/host/group"
mkdir "$WORK/bin"
cp "$BOXPOLICY" "$SPOOLNAG" "$WORK/bin/"
chmod 755 "$WORK/bin" "$WORK/bin/"*
configure_postfix "$WORK/postfix" 2525 "unix:private/boxpolicy" \
	"boxpolicy unix - n n - 0 spawn
  user=nobody argv=$WORK/bin/boxpolicy -d + example.org
pickup unix n - n 60 1 pickup"
# Aliases, .forward files, local delivery asking boxpolicy, and deferred
# mail retried within seconds.
printf 'info bob\nhelp alice\n' >"$WORK/postfix/conf/aliases"
mkdir -p "$WORK/forward"
echo bob >"$WORK/forward/frank"
echo alice >"$WORK/forward/grace"
chown 1004 "$WORK/forward/frank"
chown 1005 "$WORK/forward/grace"
chmod 755 "$WORK/forward"
chmod 644 "$WORK/forward/"*
# sendmail(1) runs postdrop from command_directory with a clean
# environment: a wrapper there finds the unpacked libraries.
mkdir "$WORK/postfix/bin"
printf '#!/bin/sh\nLD_LIBRARY_PATH=%s exec %s "$@"\n' "$DEBS/postfix/usr/lib/postfix" \
	"$DEBS/postfix/usr/sbin/postdrop" >"$WORK/postfix/bin/postdrop"
chmod 755 "$WORK/postfix/bin" "$WORK/postfix/bin/postdrop"
pfx postconf -e "command_directory = $WORK/postfix/bin" \
	"alias_maps = texthash:$WORK/postfix/conf/aliases" \
	"forward_path = $WORK/forward/\$user" \
	"mailbox_transport_maps = socketmap:unix:$WORK/postfix/spool/private/boxpolicy:boxquota" \
	"queue_run_delay = 1s" "minimal_backoff_time = 1s" "maximal_backoff_time = 2s" \
	"default_transport = discard"

run_host "$WORK/postfix/maillog" "$WORK/syslog"
