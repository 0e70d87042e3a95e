#!/bin/sh
# SPDX-License-Identifier: ISC
# servers.twohosts - a mail exchanger asking boxpolicy on the mailbox host
# over TCP.
#
# Two hosts, each in private mount, network and PID namespaces of its own,
# joined by a veth pair made inside them (10.213.0.1/30 on the exchanger,
# 10.213.0.2/30 on the mailbox host; never on the machine's own network).
# The mailbox host has the sample accounts and spool, and starts boxpolicy
# per connection with systemd-socket-activate on 10.213.0.2:10032, as the
# shipped boxpolicy.socket does. The exchanger runs Debian's Postfix,
# relaying example.org, with check_policy_service inet:10.213.0.2:10032.
# Over the limit: 552 5.2.2 at the exchanger; within: accepted; SIZE= past
# the limit: 552.
. "$(dirname "$0")/lib.sh"

mx_addr=10.213.0.1
mbox_addr=10.213.0.2

if [ "${1-}" = mbox ]; then
	begin_host mbox "$WORK/host" "$WORK/mbox-syslog"
	: >"$WORK/mbox-ready"
	wait_for 30 test -e "$WORK/link-up" || fail "mailbox host: no link"
	systemd-socket-activate --inetd -a -l $mbox_addr:10032 \
		setpriv --reuid=65534 --regid=65534 --clear-groups \
		"$WORK/bin/boxpolicy" -d + example.org 2>>"$WORK/activate.err" &
	track $!
	wait_port $mbox_addr 10032
	: >"$WORK/policy-up"
	wait_for 200 test -e "$WORK/done" || :
	exit 0
fi

if [ "${1-}" = mx ]; then
	begin_host mx "$WORK/mx-host" "$WORK/mx-syslog"
	: >"$WORK/mx-ready"
	wait_for 30 test -e "$WORK/policy-up" || fail "exchanger: no policy service"
	start_postfix "$WORK/postfix"

	out=$(smtp 2525 -- mail:s@example.net rcpt:bob@example.org rcpt:alice@example.org \
		rset mail:s@example.net:15000 rcpt:alice+x@example.org)
	expect "over the limit: refused at the exchanger" \
		'^rcpt:bob@example.org -> 552 5\.2\.2 <bob@example.org>: Recipient address rejected: Mailbox of <bob@example.org> is full$' \
		"$out"
	expect "within the limit: accepted at the exchanger" '^rcpt:alice@example.org -> 250 ' "$out"
	expect "SIZE= past the limit: refused at the exchanger" \
		'^rcpt:alice\+x@example.org -> 552 5\.2\.2 ' "$out"
	expect_log "the mailbox host logs the refusal" \
		'boxpolicy\[[0-9]+\]: reject: RCPT recipient=<bob@example.org> uid=1002 mailbox=30000' \
		"$WORK/mbox-syslog"
	exit 0
fi

need_namespaces
need_unpacked postfix
command -v systemd-socket-activate >/dev/null || skip "systemd-socket-activate is missing"
command -v nsenter >/dev/null || skip "nsenter is missing"
begin_work
mkdir -p "$WORK/bin"
# The exchanger has no mailboxes: an empty spool of its own.
sample_host "$WORK/mx-host"
rm -f "$WORK/mx-host/mail/"*
cp "$BOXPOLICY" "$WORK/bin/"
chmod 755 "$WORK/bin" "$WORK/bin/boxpolicy"
PF_DESTINATION="mx.example.org, localhost" PF_RELAY=example.org \
	configure_postfix "$WORK/postfix" 2525 "inet:$mbox_addr:10032" ""

enter_host "$0" mbox
mbox=$(host_shell "$HOST_PID") || fail "the mailbox host did not start"
mbox_unshare=$HOST_PID
enter_host "$0" mx
mx=$(host_shell "$HOST_PID") || fail "the exchanger did not start"
wait_for 30 test -e "$WORK/mbox-ready" -a -e "$WORK/mx-ready" || fail "the hosts did not start"

# The veth pair is made in the exchanger's network namespace with its peer
# in the mailbox host's, so it never appears on this machine's network.
nsenter -t "$mx" -n ip link add bpmx0 type veth peer name bpmb0 netns "$mbox"
nsenter -t "$mx" -n ip addr add $mx_addr/30 dev bpmx0
nsenter -t "$mx" -n ip link set bpmx0 up
nsenter -t "$mbox" -n ip addr add $mbox_addr/30 dev bpmb0
nsenter -t "$mbox" -n ip link set bpmb0 up
: >"$WORK/link-up"

status=0
wait "$HOST_PID" || status=$?
: >"$WORK/done"
wait "$mbox_unshare" || :
if [ $status != 0 ]; then
	echo "--- Postfix's log:"
	tail -n 40 "$WORK/postfix/maillog" 2>/dev/null || :
	echo "--- mailbox host's syslog:"
	cat "$WORK/mbox-syslog" 2>/dev/null || :
	cat "$WORK/activate.err" 2>/dev/null || :
fi
exit $status
