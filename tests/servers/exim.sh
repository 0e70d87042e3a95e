#!/bin/sh
# SPDX-License-Identifier: ISC
# servers.exim - the shipped Exim examples (policy/exim4-boxpolicy.acl and
# policy/exim4-boxpolicy.router) with Debian's Exim, for real.
#
# Exim, unpacked from Debian's exim4-daemon-light, runs as root in private
# mount, network and PID namespaces with a test configuration shaped like
# Debian's: the ACL example included through CHECK_RCPT_LOCAL_ACL_FILE in
# the RCPT ACL, followed by "verify = recipient"; the system aliases, the
# users' .forward files, then the router example where its opening comment
# puts it, then local delivery into /var/mail. boxpolicy is started per connection by
# systemd-socket-activate on 127.0.0.1:10032, the examples' default, as
# nobody. SMTP on Exim's standard input (exim -bs), from a remote address,
# delivering at once: a recipient over the limit is refused at RCPT (552
# 5.2.2), one within it is accepted and delivered, SIZE= that would take the
# mailbox over is refused at RCPT. Every other road into bob's full mailbox
# (an alias, refused at RCPT by the router through verify; a .forward of
# another user; a message submitted with exim -bm; a bounce) fails at
# routing and leaves it byte for byte as it was, while the same roads into
# alice's deliver; mail to a user with a .forward follows it even when her
# own mailbox is full; once a message to two recipients has taken alice over
# the limit, nothing more lands by any road. BOXPOLICY_SOCKET names another service: one run
# with -t defers (452 4.2.2 at RCPT, a deferred delivery for exim -bm); one
# that is not there lets the mail through, as the examples document, or,
# with their failure strings changed as boxpolicy(8) says, defers it.
. "$(dirname "$0")/lib.sh"

exim4()
{
	"$DEBS/exim4-daemon-light/usr/sbin/exim4" -C "$WORK/exim/exim.conf" "$@"
}

exim_session()
{
	smtp --run "$DEBS/exim4-daemon-light/usr/sbin/exim4" -C "$WORK/exim/exim.conf" \
		-oMa 192.0.2.7 -odq "$@" -bs -- $steps
}

# submit FROM TO MARK [ARG...]: a small message submitted on the host with
# exim -bm, queued.
submit()
{
	from=$1 to=$2 subject=$3
	shift 3
	printf 'From: %s\nTo: %s\nSubject: %s\n\n%s\n' "$from" "$to" "$subject" "$subject" |
		exim4 -odq "$@" -f "$from" -bm "$to" || fail "exim -bm -f $from $to"
}

queue_empty()
{
	[ "$(exim4 -bpc)" = 0 ]
}

# Delivers what is queued with a queue run by root and tells whether the
# queue is empty. (Exim started with -C drops root before it delivers in
# a process of its own; a queue run by root delivers in forks of itself.)
delivered()
{
	exim4 -qff "$@" >/dev/null 2>&1
	queue_empty
}

# roads USER ALIAS FORWARDER MARK: mail into USER's mailbox by each road
# but SMTP RCPT to USER: SMTP to an alias, SMTP to another user whose
# .forward points at USER, exim -bm, and a bounce (a message from USER to
# an unknown user submitted on the host); waits until the queue is empty
# and prints the SMTP session.
roads()
{
	steps="mail:s@example.net rcpt:$2@example.org data:600:$4-alias
		rset mail:s@example.net rcpt:$3@example.org data:600:$4-forward"
	out=$(exim_session) || fail "exim -bs: $out"
	submit s@example.net "$1" "$4-submitted"
	submit "$1@example.org" nosuch@example.org "$4-bounce"
	wait_for 30 delivered || fail "the queue did not empty: $(exim4 -bp)"
	printf '%s\n' "$out"
}

if [ "${1-}" = inside ]; then
	begin_host mx "$WORK/host" "$WORK/syslog"
	mark=$(date +%s)-$$
	for port in 10032 10033; do
		flags=
		[ $port = 10033 ] && flags=-t
		systemd-socket-activate --inetd -a -l 127.0.0.1:$port \
			setpriv --reuid=65534 --regid=65534 --clear-groups \
			"$WORK/bin/boxpolicy" $flags example.org 2>>"$WORK/activate.err" &
		track $!
		wait_port 127.0.0.1 $port
	done

	steps="mail:s@example.net rcpt:bob@example.org rcpt:alice@example.org data:2000:first
		rset mail:s@example.net:15000 rcpt:alice@example.org rcpt:bob@example.net"
	out=$(exim_session) || fail "exim -bs: $out"
	expect "over the limit: refused at RCPT" \
		'^rcpt:bob@example.org -> 552 5\.2\.2 Mailbox of <bob@example.org> is full$' "$out"
	expect "within the limit: accepted at RCPT" '^rcpt:alice@example.org -> 250 ' "$out"
	expect "within the limit: message accepted" '^data:2000:first -> 250 .*id=' "$out"
	expect "SIZE= past the limit: refused at RCPT" \
		'^rcpt:alice@example.org -> 552 5\.2\.2 ' "$out"
	expect "another domain: not asked, refused as relaying" \
		'^rcpt:bob@example.net -> 550 ' "$out"
	expect_log "boxpolicy logs the refusal" \
		'boxpolicy\[[0-9]+\]: reject: RCPT recipient=<bob@example.org> uid=1002 mailbox=30000 size=0' \
		"$WORK/syslog"
	wait_for 30 delivered || fail "the queue did not empty: $(exim4 -bp)"
	grep -q '^Subject: first$' /var/mail/alice || fail "not delivered to /var/mail/alice"
	echo "ok: delivered into /var/mail/alice"

	# Every other road: refused at routing for bob's full mailbox,
	# delivered into alice's.
	bob=$(snapshot_of /var/mail/bob)
	out=$(roads bob info frank "$mark-bob")
	expect "bob by an alias: refused at RCPT by the router" \
		'^rcpt:info@example.org -> 550 .*Mailbox of <bob> is full' "$out"
	expect "bob by a .forward: accepted at SMTP" "^data:600:$mark-bob-forward -> 250 " "$out"
	cmp -s /var/mail/bob "$bob" || fail "a road reached bob's full mailbox: $(grep '^Subject' /var/mail/bob)"
	echo "ok: bob's mailbox byte for byte as it was after alias, .forward, exim -bm, bounce"
	for orig in frank@example.org bob@example.org; do
		expect_log "bob by way of <$orig>: failed at routing" \
			"\\*\\* bob@example.org( <$orig>)? R=boxpolicy: 5\\.2\\.2 Mailbox of <bob> is full" \
			"$WORK/exim/log/mainlog"
	done
	refused=$(grep -c '\*\* bob@example.org.* R=boxpolicy: 5\.2\.2 Mailbox of <bob> is full' \
		"$WORK/exim/log/mainlog")
	[ "$refused" -ge 3 ] || fail "bob: $refused refusals at routing, not 3 (the bounce)"
	expect_log "boxpolicy logs the refusal at routing" \
		'boxpolicy\[[0-9]+\]: reject: LOOKUP recipient=<bob> uid=1002 mailbox=30000 size=0 limit=20000: error:5\.2\.2 Mailbox of <bob> is full' \
		"$WORK/syslog"
	out=$(roads alice help grace "$mark-alice")
	for road in alias forward submitted bounce; do
		grep -q "^Subject: .*$mark-alice-$road" /var/mail/alice ||
			fail "alice by $road: not delivered: $(tail -n 20 "$WORK/exim/log/mainlog")"
		echo "ok: alice by $road: delivered"
	done

	# A user with a .forward is left to it, even with a full mailbox of
	# her own: what it sends away never lands there.
	head -c 30000 /dev/zero | tr '\0' g >/var/mail/grace
	chown 1005:8 /var/mail/grace
	submit s@example.net grace "$mark-forwarder-full"
	wait_for 30 delivered || fail "the queue did not empty"
	grep -q "^Subject: $mark-forwarder-full" /var/mail/alice ||
		fail "mail to grace, whose mailbox is full, did not follow her .forward"
	echo "ok: a user with a .forward and a full mailbox: the mail follows the .forward"
	# (The SMTP check refuses her at RCPT: it knows nothing of .forward.)
	rm /var/mail/grace

	# Two recipients, no SIZE=: the message takes alice over the limit;
	# nothing more lands after it.
	size=$(stat -c %s /var/mail/alice)
	steps="mail:s@example.net rcpt:alice@example.org rcpt:carol@example.org
		data:$((20000 - size + 1000)):two-$mark"
	out=$(exim_session) || fail "exim -bs: $out"
	expect "two recipients: accepted" '^data:[0-9]+:two-[^ ]* -> 250 ' "$out"
	wait_for 30 delivered || fail "the queue did not empty"
	grep -q "two-$mark" /var/mail/alice || fail "the two-recipient message did not reach alice"
	[ "$(stat -c %s /var/mail/alice)" -gt 20000 ] || fail "/var/mail/alice is not over the limit"
	alice=$(snapshot_of /var/mail/alice)
	roads alice help grace "$mark-full" >/dev/null
	cmp -s /var/mail/alice "$alice" || fail "a road reached alice's full mailbox"
	echo "ok: after the message that took alice over, no road reaches her mailbox"

	steps="mail:s@example.net rcpt:bob@example.org"
	out=$(exim_session -DBOXPOLICY_SOCKET=inet:127.0.0.1:10033) || fail "exim -bs: $out"
	expect "boxpolicy -t: deferred at RCPT" \
		'^rcpt:bob@example.org -> 452 4\.2\.2 Mailbox of <bob@example.org> is full$' "$out"
	expect_log "boxpolicy -t logs the deferral as such" \
		'boxpolicy\[[0-9]+\]: reject: RCPT recipient=<bob@example.org> uid=1002 mailbox=30000 size=0 limit=20000: 452 4\.2\.2 ' \
		"$WORK/syslog"
	submit s@example.net bob "later-$mark"
	delivered -DBOXPOLICY_SOCKET=inet:127.0.0.1:10033 && fail "the deferred message left the queue"
	expect_log "boxpolicy -t: delivery deferred at routing" \
		'== bob@example.org R=boxpolicy defer .*4\.2\.2 Mailbox of <bob> is full' \
		"$WORK/exim/log/mainlog"
	cmp -s /var/mail/bob "$bob" || fail "the deferred message reached bob's mailbox"
	echo "ok: boxpolicy -t: the message waits in the queue"

	steps="mail:s@example.net rcpt:bob@example.org data:500:open"
	out=$(exim_session -DBOXPOLICY_SOCKET=inet:127.0.0.1:10099) || fail "exim -bs: $out"
	expect "no policy service: accepted" '^rcpt:bob@example.org -> 250 ' "$out"
	expect "no policy service: message accepted" '^data:500:open -> 250 ' "$out"
	delivered -DBOXPOLICY_SOCKET=inet:127.0.0.1:10099
	grep -q '^Subject: open$' /var/mail/bob ||
		fail "no policy service: not delivered to bob (the router should decline)"
	echo "ok: no policy service: the router declines, delivered to bob"

	# Failing closed, as boxpolicy(8) describes it: the examples with the
	# failure string of ${readsocket} changed (FAIL_CLOSED) defer instead.
	steps="mail:s@example.net rcpt:bob@example.org"
	closed="-DFAIL_CLOSED -DBOXPOLICY_SOCKET=inet:127.0.0.1:10099"
	# shellcheck disable=SC2086 # the macros are split on purpose
	out=$(exim_session $closed) || fail "exim -bs: $out"
	expect "failing closed, no policy service: deferred at RCPT" \
		'^rcpt:bob@example.org -> 451 4\.3\.0 Mailbox limit check unavailable$' "$out"
	# shellcheck disable=SC2086
	submit s@example.net bob "closed-$mark" $closed
	# shellcheck disable=SC2086
	delivered $closed && fail "failing closed: the message left the queue"
	expect_log "failing closed, no policy service: delivery deferred at routing" \
		'== bob@example.org R=boxpolicy defer .*4\.3\.0 Mailbox limit check unavailable' \
		"$WORK/exim/log/mainlog"
	grep -q "closed-$mark" /var/mail/bob && fail "failing closed: delivered to bob"
	echo "ok: failing closed: the message waits in the queue"
	exit 0
fi

need_namespaces
need_unpacked exim4-base exim4-daemon-light
command -v systemd-socket-activate >/dev/null || skip "systemd-socket-activate is missing"
begin_work
mkdir -p "$WORK/exim/spool" "$WORK/exim/log" "$WORK/bin"
# frank forwards his mail to bob, grace hers to alice, each with a .forward
# in the home folder.
for u in frank:1004:bob grace:1005:alice; do
	name=${u%%:*} id=${u#*:} id=${id%%:*} to=${u##*:}
	echo "$name:x:$id:$id:forwards to $to:$WORK/home/$name:/bin/sh" >>"$WORK/host/passwd"
	echo "$name:x:$id:" >>"$WORK/host/group"
	mkdir -p "$WORK/home/$name"
	echo "$to@example.org" >"$WORK/home/$name/.forward"
	chown -R "$id:$id" "$WORK/home/$name"
done
chmod 755 "$WORK/home"
printf 'info: bob\nhelp: alice\n' >"$WORK/exim/aliases"
chmod 644 "$WORK/exim/aliases"
cp "$BOXPOLICY" "$WORK/bin/"
chmod 755 "$WORK/bin" "$WORK/bin/boxpolicy"
chown -R 102:102 "$WORK/exim/spool" "$WORK/exim/log"
# The RCPT ACL and the routers as in Debian's configuration, around the
# includes; mail for other domains is thrown away (bounces to the test's
# senders), a bounce that cannot be delivered is dropped at once, and
# every message waits for a queue run (see delivered).
# With FAIL_CLOSED, the examples as boxpolicy(8) says to change them to
# fail closed: their failure strings defer.
sed 's/{action=DUNNO}}/{action=451 4.3.0 Mailbox limit check unavailable}}/' \
	"$SRC/policy/exim4-boxpolicy.acl" >"$WORK/exim/closed.acl"
sed 's/{5s}{}{}}}/{5s}{}{0:OK retry:4.3.0 Mailbox limit check unavailable,}}}/' \
	"$SRC/policy/exim4-boxpolicy.router" >"$WORK/exim/closed.router"
grep -q '451 4.3.0' "$WORK/exim/closed.acl" && grep -q 'retry:4.3.0' "$WORK/exim/closed.router" ||
	fail "the failure strings boxpolicy(8) says to change are not in the examples"
chmod 644 "$WORK/exim/closed.acl" "$WORK/exim/closed.router"
cat >"$WORK/exim/exim.conf" <<CONF
.ifdef FAIL_CLOSED
CHECK_RCPT_LOCAL_ACL_FILE = $WORK/exim/closed.acl
.else
CHECK_RCPT_LOCAL_ACL_FILE = $SRC/policy/exim4-boxpolicy.acl
.endif
BOXPOLICY_ALIASES = $WORK/exim/aliases
primary_hostname = mx.example.org
exim_path = $DEBS/exim4-daemon-light/usr/sbin/exim4
domainlist local_domains = example.org
qualify_domain = example.org
spool_directory = $WORK/exim/spool
log_file_path = $WORK/exim/log/%slog
exim_user = Debian-exim
exim_group = Debian-exim
never_users = root
keep_environment =
host_lookup =
rfc1413_hosts =
ignore_bounce_errors_after = 0s
queue_only = true
acl_smtp_rcpt = acl_check_rcpt

begin acl
acl_check_rcpt:
  # Debian's takes SMTP on standard input without a remote address first.
  accept hosts = :
.ifdef CHECK_RCPT_LOCAL_ACL_FILE
.include CHECK_RCPT_LOCAL_ACL_FILE
.endif
  require verify = recipient
  accept domains = +local_domains
  deny message = relay not permitted

begin routers
elsewhere:
  driver = redirect
  domains = ! +local_domains
  data = :blackhole:

system_aliases:
  driver = redirect
  domains = +local_domains
  data = \${lookup{\$local_part}lsearch{$WORK/exim/aliases}}

userforward:
  driver = redirect
  domains = +local_domains
  check_local_user
  file = \$home/.forward
  require_files = \$home/.forward
  no_verify
  check_ancestor
  allow_filter
  forbid_filter_run
  forbid_filter_reply

.ifdef FAIL_CLOSED
.include $WORK/exim/closed.router
.else
.include $SRC/policy/exim4-boxpolicy.router
.endif

local_user:
  driver = accept
  domains = +local_domains
  check_local_user
  transport = mail_spool

begin transports
mail_spool:
  driver = appendfile
  file = /var/mail/\$local_part_data
  # The sample users have no home folders.
  current_directory = /
  delivery_date_add
  envelope_to_add
  return_path_add
CONF
chmod 644 "$WORK/exim/exim.conf"

run_host "$WORK/exim/log" "$WORK/activate.err" "$WORK/syslog"
