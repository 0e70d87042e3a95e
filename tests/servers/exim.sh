#!/bin/sh
# SPDX-License-Identifier: ISC
# servers.exim - the shipped Exim example (policy/exim4-boxpolicy.acl) with
# Debian's Exim, for real.
#
# Exim, unpacked from Debian's exim4-daemon-light, runs as root in private
# mount, network and PID namespaces with a test configuration that
# includes the example through CHECK_RCPT_LOCAL_ACL_FILE in its RCPT ACL,
# as Debian's configuration does. boxpolicy is started per connection by
# systemd-socket-activate on 127.0.0.1:10032, the example's default, as
# nobody. SMTP on Exim's standard input (exim -bs), from a remote address:
# a recipient over the limit is refused at RCPT (552 5.2.2), one within it
# is accepted and its message queued, SIZE= that would take the mailbox
# over is refused at RCPT. BOXPOLICY_SOCKET names another service: one run
# with -t defers (452 4.2.2); one that is not there lets the mail through.
. "$(dirname "$0")/lib.sh"

exim_session()
{
	smtp --run "$DEBS/exim4-daemon-light/usr/sbin/exim4" -C "$WORK/exim/exim.conf" \
		-oMa 192.0.2.7 -odq "$@" -bs -- $steps
}

if [ "${1-}" = inside ]; then
	begin_host mx "$WORK/host" "$WORK/syslog"
	for port in 10032 10033; do
		flags=
		[ $port = 10033 ] && flags=-t
		systemd-socket-activate --inetd -a -l 127.0.0.1:$port \
			setpriv --reuid=65534 --regid=65534 --clear-groups \
			"$WORK/bin/boxpolicy" $flags example.org 2>>"$WORK/activate.err" &
		track $!
		wait_port 127.0.0.1 $port
	done

	steps="mail:s@example.net rcpt:bob@example.org rcpt:alice@example.org data:2000:queued
		rset mail:s@example.net:15000 rcpt:alice@example.org rcpt:bob@example.net"
	out=$(exim_session) || fail "exim -bs: $out"
	expect "over the limit: refused at RCPT" \
		'^rcpt:bob@example.org -> 552 5\.2\.2 Mailbox of <bob@example.org> is full$' "$out"
	expect "within the limit: accepted at RCPT" '^rcpt:alice@example.org -> 250 ' "$out"
	expect "within the limit: message accepted" '^data:2000:queued -> 250 .*id=' "$out"
	expect "SIZE= past the limit: refused at RCPT" \
		'^rcpt:alice@example.org -> 552 5\.2\.2 ' "$out"
	expect "another domain: not asked, refused as relaying" \
		'^rcpt:bob@example.net -> 550 ' "$out"
	expect_log "boxpolicy logs the refusal" \
		'boxpolicy\[[0-9]+\]: reject: RCPT recipient=<bob@example.org> uid=1002 mailbox=30000 size=0' \
		"$WORK/syslog"

	steps="mail:s@example.net rcpt:bob@example.org"
	out=$(exim_session -DBOXPOLICY_SOCKET=inet:127.0.0.1:10033) || fail "exim -bs: $out"
	expect "boxpolicy -t: deferred at RCPT" \
		'^rcpt:bob@example.org -> 452 4\.2\.2 Mailbox of <bob@example.org> is full$' "$out"

	steps="mail:s@example.net rcpt:bob@example.org data:500:open"
	out=$(exim_session -DBOXPOLICY_SOCKET=inet:127.0.0.1:10099) || fail "exim -bs: $out"
	expect "no policy service: accepted" '^rcpt:bob@example.org -> 250 ' "$out"
	expect "no policy service: message accepted" '^data:500:open -> 250 ' "$out"
	exit 0
fi

need_namespaces
need_unpacked exim4-base exim4-daemon-light
command -v systemd-socket-activate >/dev/null || skip "systemd-socket-activate is missing"
rm -rf "$WORK"
mkdir -p "$WORK/exim/spool" "$WORK/exim/log" "$WORK/bin"
chmod 755 "$WORK"
PIDS=$WORK/pids.test
trap 'stop_tracked' EXIT
sample_host "$WORK/host"
cp "$BOXPOLICY" "$WORK/bin/"
chmod 755 "$WORK/bin" "$WORK/bin/boxpolicy"
chown -R 102:102 "$WORK/exim/spool" "$WORK/exim/log"
# The RCPT ACL as in Debian's configuration, around the include.
cat >"$WORK/exim/exim.conf" <<CONF
CHECK_RCPT_LOCAL_ACL_FILE = $SRC/policy/exim4-boxpolicy.acl
primary_hostname = mx.example.org
domainlist local_domains = example.org
spool_directory = $WORK/exim/spool
log_file_path = $WORK/exim/log/%slog
exim_user = Debian-exim
exim_group = Debian-exim
never_users = root
keep_environment =
host_lookup =
rfc1413_hosts =
acl_smtp_rcpt = acl_check_rcpt

begin acl
acl_check_rcpt:
  # Debian's takes SMTP on standard input without a remote address first.
  accept hosts = :
.ifdef CHECK_RCPT_LOCAL_ACL_FILE
.include CHECK_RCPT_LOCAL_ACL_FILE
.endif
  accept domains = +local_domains
  deny message = relay not permitted

begin routers
local_user:
  driver = accept
  domains = +local_domains
  check_local_user
  transport = mail_spool

begin transports
mail_spool:
  driver = appendfile
  file = /var/mail/\$local_part_data
  return_path_add
CONF
chmod 644 "$WORK/exim/exim.conf"

enter_host "$0" inside
status=0
wait "$HOST_PID" || status=$?
if [ $status != 0 ]; then
	echo "--- Exim's logs:"
	tail -n 20 "$WORK/exim/log/"* 2>/dev/null || :
	echo "--- socket activation:"
	cat "$WORK/activate.err" 2>/dev/null || :
	echo "--- syslog:"
	cat "$WORK/syslog" 2>/dev/null || :
fi
exit $status
