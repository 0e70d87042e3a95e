#!/bin/sh
# SPDX-License-Identifier: ISC
# connection.sh BOXPOLICY PWDB - one long boxpolicy connection while the
# accounts change under it (connection.py), and the idle timeout. Each
# connection runs as nobody in a private mount namespace with a sample /etc
# (passwd and its database) and /var/mail bound in; the files are changed
# in their folders here, outside it. Needs root: exits 77 (skipped) without
# it, unless CI is set.
#
# SPOOLNAG_WRAPPER (environment, optional): a command put before boxpolicy,
# such as the memory checker, as in run-case.sh; its logs go under
# WRAPPER_LOG and are shown when the test fails.
set -u
bin=$(realpath "$1") pwdb=$(realpath "$2")
here=$(cd "$(dirname "$0")" && pwd)

. "$here/../skip.sh"
need_namespace
python=$(command -v /usr/bin/python3 python3 | head -n 1) || skip "python3 is missing"

tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT
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

export WRAPPER_LOG="$tmp/log/run" SPOOLNAG_WRAPPER="${SPOOLNAG_WRAPPER:-}"
# shellcheck disable=SC2016 # expanded by the inner shell
"$python" "$here/connection.py" "$tmp/etc" "$tmp/mail" "$pwdb" \
	unshare -m --propagation private sh -c '
		mount --bind "$1" /etc && mount --bind "$2" /var/mail || exit 99
		cd / && exec setpriv --reuid=65534 --regid=65534 --clear-groups \
			$SPOOLNAG_WRAPPER "$3" -i 1' sh "$tmp/etc" "$tmp/mail" "$bin"
status=$?
if [ $status != 0 ]; then
	for f in "$tmp"/log/*; do
		[ -s "$f" ] && { echo "--- ${f#"$tmp"/log/}:"; cat "$f"; }
	done
fi
exit $status
