#!/bin/sh
# SPDX-License-Identifier: ISC
# servers.postfix - boxpolicy in front of Debian's Postfix, for real.
#
# Postfix, unpacked from Debian's package, runs as root in private mount,
# network and PID namespaces: its own configuration, queue and data folders
# here, the sample host's passwd, group and spool bound in, listening on
# 127.0.0.1 only, with boxpolicy as a spawn(8) service asked in
# smtpd_recipient_restrictions and smtpd_end_of_data_restrictions, with
# default_action=DUNNO. An SMTP client then shows: a recipient over the
# limit is refused at RCPT (552 5.2.2); one within it is refused at RCPT
# when SIZE= would take the mailbox over, and at the end of the data when
# no SIZE= was given; a message within the limit is accepted and delivered
# by local(8) into /var/mail/alice; once deliveries have taken that mailbox
# over the limit, spoolnag run as alice warns and the next RCPT is refused.
# Then the policy service is broken and mail to the full mailbox flows.
# boxpolicy's refusal reaches syslog.
. "$(dirname "$0")/lib.sh"

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

	out=$(smtp 2525 -- mail:s@example.net rcpt:alice@example.org data:6000:first-$mark)
	expect "within the limit: accepted" '^data:6000:first-[^ ]* -> 250 ' "$out"
	wait_for 60 grep -q "first-$mark" /var/mail/alice ||
		fail "not delivered to /var/mail/alice: $(tail -n 20 "$WORK/postfix/maillog")"
	echo "ok: delivered by local(8) into /var/mail/alice"

	# Fill up to just under the limit: accepted at the end of the data,
	# but the headers added in delivery take the mailbox over.
	size=$(stat -c %s /var/mail/alice)
	out=$(smtp 2525 -- mail:s@example.net rcpt:alice@example.org \
		data:$((20000 - size - 40)):second-$mark)
	expect "up to the limit: accepted" '^data:[0-9]+:second-[^ ]* -> 250 ' "$out"
	wait_for 60 grep -q "second-$mark" /var/mail/alice ||
		fail "second message not delivered: $(tail -n 20 "$WORK/postfix/maillog")"
	[ "$(stat -c %s /var/mail/alice)" -gt 20000 ] ||
		fail "the deliveries left /var/mail/alice within the limit"
	warning=$(setpriv --reuid=1001 --regid=1001 --clear-groups "$WORK/bin/spoolnag")
	expect "spoolnag warns alice" \
		'^\*\* WARNING: system mailbox /var/mail/alice is over quota \([0-9]+ bytes\)\. \*\*$' \
		"$warning"
	out=$(smtp 2525 -- mail:s@example.net rcpt:alice@example.org)
	expect "the next RCPT is refused" '^rcpt:alice@example.org -> 552 5\.2\.2 ' "$out"

	# Fail open: the service's program is gone; mail to bob flows.
	break_policy "$WORK/postfix"
	before=$(stat -c %s /var/mail/bob)
	out=$(smtp 2525 -- mail:s@example.net rcpt:bob@example.org data:1000:open-$mark)
	expect "policy service broken: RCPT accepted" '^rcpt:bob@example.org -> 250 ' "$out"
	expect "policy service broken: message accepted" '^data:1000:open-[^ ]* -> 250 ' "$out"
	wait_for 60 grep -q "open-$mark" /var/mail/bob ||
		fail "not delivered to bob: $(tail -n 20 "$WORK/postfix/maillog")"
	[ "$(stat -c %s /var/mail/bob)" -gt "$before" ] || fail "bob's mailbox did not grow"
	expect_log "Postfix saw the broken service" 'warning: .*private/boxpolicy' \
		"$WORK/postfix/maillog"
	exit 0
fi

need_namespaces
need_unpacked postfix
rm -rf "$WORK"
mkdir -p "$WORK"
chmod 755 "$WORK"
PIDS=$WORK/pids.test
trap 'stop_tracked' EXIT
sample_host "$WORK/host"
mkdir "$WORK/bin"
cp "$BOXPOLICY" "$SPOOLNAG" "$WORK/bin/"
chmod 755 "$WORK/bin" "$WORK/bin/"*
configure_postfix "$WORK/postfix" 2525 "unix:private/boxpolicy" \
	"boxpolicy unix - n n - 0 spawn
  user=nobody argv=$WORK/bin/boxpolicy -d + example.org"

enter_host "$0" inside
status=0
wait "$HOST_PID" || status=$?
if [ $status != 0 ]; then
	echo "--- Postfix's log:"
	tail -n 40 "$WORK/postfix/maillog" 2>/dev/null || :
	echo "--- syslog:"
	cat "$WORK/syslog" 2>/dev/null || :
fi
exit $status
