#!/bin/sh
# SPDX-License-Identifier: ISC
# connection.sh BOXPOLICY PWDB - one long boxpolicy connection while the
# accounts change under it (connection.py), the idle timeout and the time
# bound of a request, with the log lines of a client dropped. Each
# connection runs as nobody in a private mount namespace with a sample /etc
# (passwd and its database) and /var/mail bound in; the files are changed
# in their folders here, outside it; /dev/log is read into a file
# (devlog.sh). Needs root: exits 77 (skipped) without it, unless CI is set.
#
# SPOOLNAG_WRAPPER (environment, optional): a command put before boxpolicy,
# such as the memory checker, as in run-case.sh; its logs go under
# WRAPPER_LOG and are shown when the test fails.
set -u
bin=$(realpath "$1") pwdb=$(realpath "$2")
here=$(cd "$(dirname "$0")" && pwd)

. "$here/../skip.sh"
. "$here/../devlog.sh"
need_namespace
python=$(command -v /usr/bin/python3 python3 | head -n 1) || skip "python3 is missing"

tmp=$(mktemp -d) || exit 1
DEVLOG_PID=
trap '[ -n "$DEVLOG_PID" ] && kill "$DEVLOG_PID"; rm -rf "$tmp"' EXIT
chmod 755 "$tmp"
mkdir "$tmp/etc" "$tmp/mail" "$tmp/log"
cp /etc/ld.so.cache "$tmp/etc/" 2>/dev/null
printf '1000\n20000\n' > "$tmp/mail/.boxquota"
truncate -s 30000 "$tmp/mail/bob"
truncate -s 25000 "$tmp/mail/dan"
truncate -s 21000 "$tmp/mail/erin"
chmod -R a+rX "$tmp/mail"
# Owned by their accounts (as connection.py first makes them), as delivery
# makes mailboxes: boxpolicy counts no other.
chown 1002 "$tmp/mail/bob"
chown 1005 "$tmp/mail/dan"
chown 1006 "$tmp/mail/erin"
chown 65534 "$tmp/log"

devlog_start "$tmp/dev" "$tmp/syslog" || { echo "FAIL: the syslog reader did not start"; exit 1; }

DEVLOG_LIB=$(realpath "$here/../devlog.sh")
export WRAPPER_LOG="$tmp/log/run" SPOOLNAG_WRAPPER="${SPOOLNAG_WRAPPER:-}" DEVLOG_LIB
# connection.py may add options after -i 1.
# shellcheck disable=SC2016 # expanded by the inner shell
"$python" "$here/connection.py" "$tmp/etc" "$tmp/mail" "$pwdb" "$tmp/syslog" \
	unshare -m --propagation private sh -c '
		mount --bind "$1" /etc && mount --bind "$2" /var/mail || exit 99
		. "$DEVLOG_LIB" && devlog_bind "$4" || exit 99
		bin=$3 && shift 4
		cd / && exec setpriv --reuid=65534 --regid=65534 --clear-groups \
			$SPOOLNAG_WRAPPER "$bin" -i 1 "$@"' sh "$tmp/etc" "$tmp/mail" "$bin" "$tmp/dev"
status=$?
if [ $status != 0 ]; then
	for f in "$tmp"/log/*; do
		[ -s "$f" ] && { echo "--- ${f#"$tmp"/log/}:"; cat "$f"; }
	done
fi
exit $status
