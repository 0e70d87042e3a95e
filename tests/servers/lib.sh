# SPDX-License-Identifier: ISC
# lib.sh - shared helpers of the real-server tests (Postfix, Exim), sourced
# by each test script.
#
# A test runs its servers as root inside private mount, network and PID
# namespaces (enter_host): only loopback, or a veth pair between two such
# namespaces, with the test's own addresses; a private /dev whose /dev/log
# is a socket of the test's (so boxpolicy's syslog lines are read, and
# nothing reaches the host's log); a sample host's /etc/passwd, /etc/group
# and /var/mail bound in. The servers come unpacked from Debian's packages
# (scripts/unpack-debs.sh, run by scripts/setup.sh), never installed.
# Every process a test starts is recorded (track) and stopped by its pid
# when the script ends; the PID namespace's end takes down anything left.
#
# Environment (set by CMakeLists.txt): DEBS (the unpacked packages),
# BOXPOLICY, SPOOLNAG, SPOOLWARN (the built programs), SRC (the source tree), WORK (a
# scratch folder of the test's own). fail ends the script with 1; skip with
# 77 (CTest: skipped), or with 1 when CI is set.
set -eu
. "${SRC:-$(dirname "$0")/../..}/tests/skip.sh"

fail()
{
	echo "FAIL: $*" >&2
	exit 1
}

# Skips unless root may make the namespaces and the tools are there.
need_namespaces()
{
	need_namespace -m -n -p --fork
	for tool in setpriv ip; do
		command -v "$tool" >/dev/null || skip "$tool is missing"
	done
	PYTHON=$(command -v /usr/bin/python3 python3 | head -n 1) || skip "python3 is missing"
	export PYTHON
}

# need_unpacked PACKAGE...: the packages unpacked by scripts/setup.sh.
need_unpacked()
{
	for pkg in "$@"; do
		[ -e "$DEBS/$pkg/.unpacked" ] ||
			skip "$pkg is not unpacked in $DEBS (sh scripts/setup.sh, or sh scripts/unpack-debs.sh $DEBS $pkg)"
	done
}

# --- processes -------------------------------------------------------------

# track PID: stop PID when the script ends. Each script (host side, and
# each namespaced host) names its own list in PIDS.
track()
{
	echo "$1" >>"$PIDS"
}

# Stops every tracked process of this shell, newest first: TERM, then KILL
# after five seconds.
stop_tracked()
{
	[ -f "$PIDS" ] || return 0
	for pid in $(tac "$PIDS"); do
		kill "$pid" 2>/dev/null || continue
		n=0
		while kill -0 "$pid" 2>/dev/null && [ $n -lt 50 ]; do
			sleep 0.1
			n=$((n + 1))
		done
		kill -KILL "$pid" 2>/dev/null || :
	done
	rm -f "$PIDS"
}

# --- namespaces ------------------------------------------------------------

# enter_host SCRIPT ARG...: runs "sh SCRIPT ARG..." as PID 1 of fresh mount,
# network and PID namespaces (with its own /proc), in the background; sets
# HOST_PID to the pid of unshare, which kills that shell, and with it the
# whole namespace, when it is stopped.
enter_host()
{
	unshare -m -n -p --fork --kill-child --mount-proc --propagation private \
		sh "$@" &
	HOST_PID=$!
	track "$HOST_PID"
}

# run_host LOG...: this script run again as the test's host ("inside"),
# to its end; when it failed, the last lines of each LOG (a file, or each
# file in a folder). Exits with the host's status.
run_host()
{
	enter_host "$0" inside
	status=0
	wait "$HOST_PID" || status=$?
	if [ $status != 0 ]; then
		for log in "$@"; do
			for file in "$log" "$log"/*; do
				[ -f "$file" ] || continue
				echo "--- $file:"
				tail -n 100 "$file"
			done
		done
	fi
	exit $status
}

# host_shell PID: the pid of the namespaced shell that enter_host started
# as PID (unshare), once it runs.
host_shell()
{
	n=0
	while [ $n -lt 100 ]; do
		child=$(cat "/proc/$1/task/$1/children" 2>/dev/null || true)
		[ -n "$child" ] && { echo "$child" | cut -d' ' -f1; return 0; }
		sleep 0.05
		n=$((n + 1))
	done
	return 1
}

# begin_host NAME HOSTDIR LOG: the start of a host's side of a test, run
# inside the namespaces enter_host made: the processes it starts are listed in
# $WORK/pids.NAME and stopped when it ends, its loopback and /dev come up
# with syslog written to LOG, and HOSTDIR's files are bound over the
# host's.
begin_host()
{
	PIDS=$WORK/pids.$1
	trap 'stop_tracked' EXIT
	trap 'exit 143' TERM INT
	private_dev_and_log "$3"
	bind_host "$2"
}

# Inside a host: loopback up, and a /dev of our own in which /dev/log is
# the socket of a small syslog reader writing every message, one a line,
# to FILE.
private_dev_and_log()
{
	log=$1
	ip link set lo up
	dev=$WORK/dev.${PIDS##*.}
	mkdir -p "$dev/pts" "$dev/shm"
	for node in null zero full random urandom tty; do
		: >"$dev/$node"
		mount --bind "/dev/$node" "$dev/$node"
	done
	mount -t tmpfs -o mode=1777 tmpfs "$dev/shm"
	ln -sf /proc/self/fd "$dev/fd"
	ln -sf /proc/self/fd/0 "$dev/stdin"
	ln -sf /proc/self/fd/1 "$dev/stdout"
	ln -sf /proc/self/fd/2 "$dev/stderr"
	mount --rbind "$dev" /dev
	: >"$log"
	"$PYTHON" "$SRC/tests/syslogd.py" "$log" &
	track $!
	n=0
	while [ ! -S /dev/log ] && [ $n -lt 100 ]; do
		sleep 0.05
		n=$((n + 1))
	done
	[ -S /dev/log ] || fail "the syslog reader did not start"
}

# --- the sample host ---------------------------------------------------------

# begin_work: a fresh $WORK that the test's users may enter, the
# processes tracked in $WORK/pids.test and stopped when the script exits,
# and the sample host in $WORK/host.
begin_work()
{
	rm -rf "$WORK"
	mkdir -p "$WORK"
	chmod 755 "$WORK"
	PIDS=$WORK/pids.test
	trap 'stop_tracked' EXIT
	sample_host "$WORK/host"
}

# sample_host DIR: a password file, a group file and a spool in DIR, for
# binding over /etc/passwd, /etc/group and /var/mail. Limit: uid 1000 and
# up, 20000 bytes. alice (1001) holds 10000 bytes, bob (1002) 30000.
sample_host()
{
	h=$1
	mkdir -p "$h/mail"
	cat >"$h/passwd" <<'PW'
root:x:0:0:root:/root:/bin/sh
daemon:x:1:1:daemon:/usr/sbin:/usr/sbin/nologin
mail:x:8:8:mail:/var/mail:/usr/sbin/nologin
postfix:x:101:101:Postfix:/var/spool/postfix:/usr/sbin/nologin
Debian-exim:x:102:102:Exim:/var/spool/exim4:/usr/sbin/nologin
alice:x:1001:1001:within the limit:/nonexistent:/bin/sh
bob:x:1002:1002:over the limit:/nonexistent:/bin/sh
carol:x:1003:1003:no mailbox yet:/nonexistent:/bin/sh
nobody:x:65534:65534:nobody:/nonexistent:/usr/sbin/nologin
PW
	cat >"$h/group" <<'GR'
root:x:0:
daemon:x:1:
mail:x:8:
postfix:x:101:
Debian-exim:x:102:
postdrop:x:103:
alice:x:1001:
bob:x:1002:
carol:x:1003:
nogroup:x:65534:
GR
	printf '# test limit\n1000\n20000\n' >"$h/mail/.boxquota"
	head -c 10000 /dev/zero | tr '\0' a >"$h/mail/alice"
	head -c 30000 /dev/zero | tr '\0' b >"$h/mail/bob"
	chown 1001:8 "$h/mail/alice"
	chown 1002:8 "$h/mail/bob"
	chmod 600 "$h/mail/alice" "$h/mail/bob"
	chmod 644 "$h/passwd" "$h/group" "$h/mail/.boxquota"
	# Deliveries create lock files beside the mailboxes.
	chmod 1777 "$h/mail"
}

# bind_host DIR: DIR's files over /etc/passwd, /etc/group and /var/mail.
bind_host()
{
	mount --bind "$1/passwd" /etc/passwd
	mount --bind "$1/group" /etc/group
	mount --bind "$1/mail" /var/mail
}

# --- waiting and checking ----------------------------------------------------

# wait_port ADDRESS PORT: until something listens there (10 s at most).
wait_port()
{
	"$PYTHON" -c '
import socket, sys, time
for _ in range(200):
    try:
        socket.create_connection((sys.argv[1], int(sys.argv[2])), 1).close()
        sys.exit(0)
    except OSError:
        time.sleep(0.05)
sys.exit(1)
' "$1" "$2" || fail "nothing listens on $1:$2"
}

# wait_for SECONDS COMMAND...: until COMMAND succeeds.
wait_for()
{
	limit=$(($1 * 10))
	shift
	n=0
	until "$@"; do
		[ $n -lt "$limit" ] || return 1
		sleep 0.1
		n=$((n + 1))
	done
}

# expect WHAT PATTERN TEXT: TEXT holds a line matching the extended regular
# expression PATTERN.
expect()
{
	printf '%s\n' "$3" | grep -Eq -- "$2" || fail "$1: expected /$2/, got: $3"
	echo "ok: $1"
}

# expect_log WHAT PATTERN FILE: a line matching PATTERN reaches FILE within
# five seconds (log lines arrive on their own time).
expect_log()
{
	wait_for 5 grep -Eq -- "$2" "$3" || fail "$1: expected /$2/ in $3: $(cat "$3")"
	echo "ok: $1"
}

# smtp PORT [ADDRESS] -- STEP...: one SMTP session with smtp.py.
smtp()
{
	"$PYTHON" "$SRC/tests/servers/smtp.py" "$@"
}

# --- Postfix -------------------------------------------------------------------

# configure_postfix DIR PORT POLICY SERVICE: an instance of the unpacked
# Postfix in DIR (conf/, spool/, data/, maillog), its SMTP server on
# 127.0.0.1:PORT, local delivery into /var/mail for example.org, and POLICY
# (unix:private/NAME or inet:HOST:PORT) asked at RCPT and at the end of the
# data with default_action=DUNNO. SERVICE: master.cf lines to add, such as
# the spawn(8) entry. The ids are those of the sample host (postfix 101,
# postdrop 103). PF_DESTINATION and PF_RELAY (environment, optional) replace
# mydestination and set relay_domains, for a mail exchanger that relays
# example.org to the mailbox host.
configure_postfix()
{
	pf=$1 port=$2 policy=$3 service=$4
	d=$DEBS/postfix
	mkdir -p "$pf/conf" "$pf/data" "$pf/spool"
	for q in active bounce corrupt defer deferred flush hold incoming private saved trace; do
		mkdir -p "$pf/spool/$q"
		chown 101:101 "$pf/spool/$q"
		chmod 700 "$pf/spool/$q"
	done
	mkdir -p "$pf/spool/pid" "$pf/spool/maildrop" "$pf/spool/public"
	chown 101:103 "$pf/spool/maildrop" "$pf/spool/public"
	chmod 730 "$pf/spool/maildrop"
	chmod 710 "$pf/spool/public"
	chown 101:101 "$pf/data"
	chmod 700 "$pf/data"
	cp "$d/usr/share/postfix/dynamicmaps.cf" "$pf/conf/"
	cat >"$pf/conf/main.cf" <<MAIN
compatibility_level = 3.6
queue_directory = $pf/spool
data_directory = $pf/data
meta_directory = $pf/conf
daemon_directory = $d/usr/lib/postfix/sbin
command_directory = $d/usr/sbin
shlib_directory = $d/usr/lib/postfix
import_environment = MAIL_CONFIG MAIL_DEBUG MAIL_LOGTAG TZ LANG=C LD_LIBRARY_PATH=$d/usr/lib/postfix
maillog_file = $pf/maillog
maillog_file_prefixes = $pf
mail_owner = postfix
setgid_group = postdrop
myhostname = mx.example.org
mydomain = example.org
myorigin = example.org
mydestination = ${PF_DESTINATION:-example.org, mx.example.org, localhost}
relay_domains = ${PF_RELAY:-}
inet_interfaces = loopback-only
inet_protocols = ipv4
mynetworks = 127.0.0.0/8
smtpd_peername_lookup = no
alias_maps =
alias_database =
forward_path =
biff = no
mail_spool_directory = /var/mail
recipient_delimiter = +
smtpd_recipient_restrictions =
    reject_unauth_destination,
    check_policy_service { $policy, default_action=DUNNO }
smtpd_end_of_data_restrictions =
    check_policy_service { $policy, default_action=DUNNO }
MAIN
	# A spawn(8) service runs its program for as long as this allows.
	[ -z "$service" ] || echo "boxpolicy_time_limit = 3600" >>"$pf/conf/main.cf"
	cat >"$pf/conf/master.cf" <<MASTER
127.0.0.1:$port inet n - n - - smtpd
cleanup   unix  n - n - 0 cleanup
qmgr      unix  n - n 300 1 qmgr
rewrite   unix  - - n - - trivial-rewrite
bounce    unix  - - n - 0 bounce
defer     unix  - - n - 0 bounce
trace     unix  - - n - 0 bounce
verify    unix  - - n - 1 verify
flush     unix  n - n 1000? 0 flush
proxymap  unix  - - n - - proxymap
smtp      unix  - - n - - smtp
relay     unix  - - n - - smtp
error     unix  - - n - - error
retry     unix  - - n - - error
discard   unix  - - n - - discard
local     unix  - n n - - local
anvil     unix  - - n - 1 anvil
scache    unix  - - n - 1 scache
postlog   unix-dgram n - n - 1 postlogd
$service
MASTER
	warnings=$(LD_LIBRARY_PATH=$d/usr/lib/postfix "$d/usr/sbin/postconf" -c "$pf/conf" -n 2>&1 >/dev/null)
	[ -z "$warnings" ] || fail "postconf finds fault with the configuration: $warnings"
}

# start_postfix DIR: Postfix's master for the instance in DIR, tracked, in
# the foreground of a background job; returns once its SMTP server answers.
start_postfix()
{
	pf=$1
	d=$DEBS/postfix
	LD_LIBRARY_PATH=$d/usr/lib/postfix "$d/usr/lib/postfix/sbin/master" -c "$pf/conf" -d \
		</dev/null >>"$pf/master.out" 2>&1 &
	echo $! >"$pf/master.pid"
	track "$(cat "$pf/master.pid")"
	port=$(sed -n 's/^127\.0\.0\.1:\([0-9]*\) .*/\1/p' "$pf/conf/master.cf")
	wait_port 127.0.0.1 "$port"
}

# break_policy DIR: the spawn(8) service's program is replaced by one that
# does not exist, and Postfix reloads; the SMTP servers and local(8)
# processes started afterwards find the policy service broken.
break_policy()
{
	pf=$1
	cp "$pf/conf/master.cf" "$pf/conf/master.cf.good"
	sed -i 's|argv=[^ ]*boxpolicy|argv=/nonexistent/boxpolicy|' "$pf/conf/master.cf"
	reload_postfix "$pf"
}

# mend_policy DIR: the spawn(8) service as it was before break_policy, and
# Postfix reloads.
mend_policy()
{
	pf=$1
	cp "$pf/conf/master.cf.good" "$pf/conf/master.cf"
	reload_postfix "$pf"
}

# reload_postfix DIR: Postfix rereads its configuration; returns once its
# log says so.
reload_postfix()
{
	pf=$1
	reloads=$(grep -c 'reload' "$pf/maillog" || :)
	kill -HUP "$(cat "$pf/master.pid")"
	wait_for 10 sh -c '[ "$(grep -c reload "$1")" -gt "$2" ]' sh "$pf/maillog" "$reloads" ||
		fail "Postfix did not reload"
}

# snapshot_of FILE: a copy of FILE in WORK, to compare it with later;
# prints the copy's path.
snapshot_of()
{
	copy=$(mktemp "$WORK/snapshot.XXXXXX") && cp "$1" "$copy" && echo "$copy"
}
