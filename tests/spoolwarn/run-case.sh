#!/bin/sh
# SPDX-License-Identifier: ISC
# run-case.sh SPOOLWARN CASEDIR - one end-to-end case of spoolwarn.
#
# A case is a folder:
#   passwd    the password file bound over /etc/passwd
#   boxquota  (optional) the limit, /var/mail/.boxquota
#   state     (optional) the state file found in /var/lib/spoolwarn at first
#   steps     a shell fragment run as root inside the namespaces, with the
#             helpers below; it fails the case by calling fail
#
# Inside private mount, network, PID and UTS namespaces, the host named
# mx.example.org (and, should the machine have an /etc/mailname, one saying
# the same bound over it: the letters are addressed there): the case's passwd over
# /etc/passwd, a spool of its own over /var/mail, a tmpfs over /var/lib
# holding an empty /var/lib/spoolwarn owned by the test user (uid and gid
# 1000), and a /dev of our own whose /dev/log is read into a file. The
# sendmail given with -S is a recording script: it appends "=== ARGS" and
# the letter to a log; a file $FAIL holding a number makes it exit with
# that status (the letter read and dropped), one holding a signal's name
# makes it kill itself with that signal, and while $HOLD exists it touches
# $WAITING and waits before it records.
#
# Helpers for steps:
#   box NAME SIZE           the mailbox of NAME, SIZE bytes (sparse), owned
#                           by the account NAME (by the test user when
#                           there is none)
#   warn [ARG...]           runs spoolwarn -S <recorder> ARG... as the test
#                           user; its output in $OUT, $ERR, status in $STATUS
#   warn_root [ARG...]      the same as root
#   warn_bg [ARG...]        the same in the background; its pid in $BG
#   mark                    remembers how many letters were sent so far
#   sent                    the recipients of the letters this case's runs
#                           have sent, one a line, in order (only those
#                           submitted with the null sender, -f <>)
#   since_mark              the same since the last call of mark
#   expect WHAT WANT GOT    fails unless GOT is WANT
#   expect_match WHAT ERE TEXT   fails unless a line of TEXT matches ERE
#   state_lines             the state file without its first line
#   log_count ERE           how many syslog lines match ERE (waits until a
#                           marker logged after them has arrived)
#
# SPOOLNAG_WRAPPER (environment, optional): a command put before spoolwarn,
# such as a memory checker (split at blanks), with WRAPPER_LOG naming a path
# prefix for its logs, shown when the case fails; it reports a fault by
# changing the exit status.
set -u
bin=$(realpath "$1") case=$(realpath "$2")

if [ "${3-}" != inside ]; then
	. "$(dirname "$0")/../skip.sh"
	need_namespace -m -n -p -u --fork
	command -v python3 >/dev/null || skip "python3 is missing"
	tmp=$(mktemp -d) || exit 1
	trap 'rm -rf "$tmp"' EXIT
	chmod 755 "$tmp"
	unshare -m -n -p -u --fork --kill-child --mount-proc --propagation private \
		sh "$0" "$bin" "$case" inside "$tmp"
	status=$?
	[ $status = 0 ] && echo "ok: $(basename "$case")"
	exit $status
fi

# --- inside the namespaces ----------------------------------------------------
tmp=$4
WRAPPER=${SPOOLNAG_WRAPPER:-}
PIDS=$tmp/pids
stop_tracked() {
	[ -f "$PIDS" ] || return 0
	for pid in $(cat "$PIDS"); do kill "$pid" 2>/dev/null; done
}
trap 'stop_tracked' EXIT
fail() {
	echo "FAIL: $*"
	echo "--- syslog:"; cat "$tmp/syslog" 2>/dev/null
	echo "--- sendmail log:"; cat "$tmp/sent.log" 2>/dev/null
	for f in "$tmp"/log/*; do
		[ -s "$f" ] && { echo "--- ${f#"$tmp"/log/}:"; cat "$f"; }
	done
	exit 1
}
USER_ID=1000

ip link set lo up
hostname mx.example.org || fail "cannot name the host"
if [ -e /etc/mailname ]; then
	echo mx.example.org >"$tmp/mailname"
	mount --bind "$tmp/mailname" /etc/mailname || fail "cannot bind /etc/mailname"
fi
mkdir -p "$tmp/mail" "$tmp/dev" "$tmp/bin"
cp "$case/passwd" "$tmp/passwd"
[ -f "$case/boxquota" ] && cp "$case/boxquota" "$tmp/mail/.boxquota"
chmod -R a+rX "$tmp/mail" "$tmp/passwd"
mount --bind "$tmp/passwd" /etc/passwd || fail "cannot bind /etc/passwd"
mount --bind "$tmp/mail" /var/mail || fail "cannot bind /var/mail"
mount -t tmpfs -o mode=755 tmpfs /var/lib || fail "cannot mount /var/lib"
mkdir -m 700 /var/lib/spoolwarn
[ -f "$case/state" ] && cp "$case/state" /var/lib/spoolwarn/state
chown -R $USER_ID:$USER_ID /var/lib/spoolwarn

# A /dev of our own, whose /dev/log goes to $tmp/syslog.
for node in null zero full random urandom tty; do
	: >"$tmp/dev/$node"
	mount --bind "/dev/$node" "$tmp/dev/$node"
done
ln -s /proc/self/fd "$tmp/dev/fd"
mount --rbind "$tmp/dev" /dev
: >"$tmp/syslog"
python3 "$(dirname "$0")/../syslogd.py" "$tmp/syslog" &
echo $! >>"$PIDS"
n=0
while [ ! -S /dev/log ] && [ $n -lt 100 ]; do sleep 0.05; n=$((n + 1)); done
[ -S /dev/log ] || fail "the syslog reader did not start"

FAIL=$tmp/sendmail.fail HOLD=$tmp/sendmail.hold WAITING=$tmp/sendmail.waiting
SENDMAIL=$tmp/bin/sendmail
cat >"$SENDMAIL" <<SCRIPT
#!/bin/sh
letter=\$(cat)
if [ -f "$FAIL" ]; then
	how=\$(cat "$FAIL")
	case \$how in [A-Z]*) kill -"\$how" \$\$ ;; esac
	exit "\$how"
fi
if [ -e "$HOLD" ]; then
	: >"$WAITING"
	while [ -e "$HOLD" ]; do sleep 0.05; done
fi
printf '=== %s\n%s\n' "\$*" "\$letter" >>"$tmp/sent.log"
SCRIPT
chmod 755 "$tmp/bin" "$SENDMAIL"
: >"$tmp/sent.log"
chmod 666 "$tmp/sent.log"
chmod 777 "$tmp"
cp "$bin" "$tmp/bin/spoolwarn"
chmod 755 "$tmp/bin/spoolwarn"

box() {
	truncate -s "$2" "/var/mail/$1"
	owner=$(awk -F: -v name="$1" '$1 == name { print $3; exit }' /etc/passwd)
	chown "${owner:-$USER_ID}" "/var/mail/$1" 2>/dev/null
}
mkdir -m 777 "$tmp/log"
# shellcheck disable=SC2086 # the wrapper is split on purpose
run_as_user() {
	setpriv --reuid=$USER_ID --regid=$USER_ID --clear-groups env TZ=UTC0 \
		WRAPPER_LOG="$tmp/log/run" $WRAPPER "$tmp/bin/spoolwarn" -S "$SENDMAIL" "$@"
}
# shellcheck disable=SC2034 # STATUS, OUT, ERR and BG are for the steps
warn() {
	run_as_user "$@" >"$tmp/out" 2>"$tmp/err" </dev/null
	STATUS=$?
	OUT=$(cat "$tmp/out") ERR=$(cat "$tmp/err")
}
# shellcheck disable=SC2034,SC2086 # the wrapper is split on purpose
warn_root() {
	env TZ=UTC0 WRAPPER_LOG="$tmp/log/run" $WRAPPER "$tmp/bin/spoolwarn" -S "$SENDMAIL" "$@" \
		>"$tmp/out" 2>"$tmp/err" </dev/null
	STATUS=$?
	OUT=$(cat "$tmp/out") ERR=$(cat "$tmp/err")
}
# shellcheck disable=SC2034
warn_bg() {
	# exec: $BG is spoolwarn itself, for kill.
	# shellcheck disable=SC2086 # the wrapper is split on purpose
	(exec setpriv --reuid=$USER_ID --regid=$USER_ID --clear-groups env TZ=UTC0 \
		WRAPPER_LOG="$tmp/log/run" $WRAPPER "$tmp/bin/spoolwarn" -S "$SENDMAIL" "$@" \
		>"$tmp/out.bg" 2>"$tmp/err.bg" </dev/null) &
	BG=$!
}
sent() { sed -n 's/^=== -i -f <> //p' "$tmp/sent.log"; }
MARK=0
mark() { MARK=$(sent | wc -l); }
since_mark() { sent | tail -n +$((MARK + 1)); }
expect() {
	[ "$3" = "$2" ] || fail "$1: want [$2], got [$3]"
	echo "ok: $1"
}
expect_match() {
	printf '%s\n' "$3" | grep -Eq -- "$2" || fail "$1: want /$2/, got [$3]"
	echo "ok: $1"
}
state_lines() { tail -n +2 /var/lib/spoolwarn/state 2>/dev/null; }
log_count() {
	# The reader takes datagrams in order: once a marker sent now is in
	# the file, so is every line the runs before it logged.
	mark="log_count marker $$.$(date +%s%N)"
	logger -u /dev/log -- "$mark"
	n=0
	while ! grep -qF -- "$mark" "$tmp/syslog" && [ $n -lt 200 ]; do
		sleep 0.05
		n=$((n + 1))
	done
	grep -v -F -- "log_count marker" "$tmp/syslog" | grep -Ec -- "$1"
}

. "$case/steps"
