#!/bin/sh
# SPDX-License-Identifier: ISC
# demo.sh - watch spoolnag and the mailbox limit at work on a small sample
# host, without changing this one.
#
# Usage: scripts/demo.sh [BUILD_DIR]     (default: build/ of this checkout)
#
# Run as root after building (scripts/setup.sh does both). In a private mount
# namespace it binds a sample password file over /etc/passwd and a sample
# mail spool over /var/mail, runs the built spoolnag as each sample user
# (through setpriv) and the delivery-side example boxcheck, and prints each
# command with what came out. The sample lives in a temporary folder that is
# removed at the end, and the mounts vanish with the namespace. Without root
# or mount namespaces it says so and exits 0. (It calls itself with
# --in-namespace for the part inside the namespace.)
set -eu

# say LINE...: prints each argument as a line.
say() { printf '%s\n' "$@"; }

# --- inside the namespace: $2 = sample folder ------------------------------
if [ "${1-}" = "--in-namespace" ]; then
	sample=$2
	mount --bind "$sample/passwd" /etc/passwd
	if [ ! -d /var/mail ]; then
		mount -t tmpfs -o mode=755 demo /var
		mkdir /var/mail
	fi
	mount --bind "$sample/mail" /var/mail

	# show TITLE COMMAND-LINE CMD...: prints the title and the command line
	# as a user would type it, runs CMD and shows its output and status.
	show()
	{
		say "" "-- $1" "\$ $2"
		shift 2
		status=0
		"$@" >"$sample/out" 2>&1 || status=$?
		if [ -s "$sample/out" ]; then
			cat "$sample/out"
		else
			say "(no output)"
		fi
		say "[exit status $status]"
	}
	as_user()
	{
		uid=$1
		shift
		setpriv --reuid="$uid" --regid="$uid" --clear-groups \
		    env -i PATH=/usr/bin:/bin HOME=/ "$@"
	}

	say "spoolnag, run by each user at login:"
	while IFS=: read -r name _ uid _ gecos _; do
		[ "$uid" -ne 0 ] || continue
		show "$name (uid $uid, $gecos)" spoolnag \
		    as_user "$uid" "$sample/bin/spoolnag"
	done </etc/passwd
	show "uid 4242, not in the password file" spoolnag \
	    as_user 4242 "$sample/bin/spoolnag"

	if [ -x "$sample/bin/boxcheck" ]; then
		say "" "boxcheck LOGIN SIZE, run by the delivery agent before it appends" \
		    "a message (exit 0: deliver; 73: refuse, 5.2.2 mailbox full):"
		for args in "alice 2000" "alice 3000" "bob 10" "carol 100000"; do
			set -- $args
			show "a $2-byte message for $1" "boxcheck $args" \
			    "$sample/bin/boxcheck" "$@"
		done
	fi
	exit 0
fi

# --- outside: checks, the sample host, the namespace ------------------------
if [ "$(id -u)" -ne 0 ]; then
	say "demo: needs root: it runs sample users through setpriv in a private"
	say "demo: mount namespace. Run it with sudo to see it. Nothing was done."
	exit 0
fi
for tool in unshare setpriv mount; do
	if ! command -v "$tool" >/dev/null; then
		say "demo: $tool (util-linux) is missing here. Nothing was done."
		exit 0
	fi
done
if ! unshare -m --propagation private true 2>/dev/null; then
	say "demo: this machine cannot make a private mount namespace (a container"
	say "demo: without that right?). Nothing was done."
	exit 0
fi

top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
if [ ! -x "$build/check/spoolnag" ]; then
	say "demo: $build/check/spoolnag is not built; run scripts/setup.sh first." >&2
	exit 1
fi

sample=$(mktemp -d "${TMPDIR:-/tmp}/spoolnag-demo.XXXXXX")
trap 'rm -rf "$sample"' EXIT
trap 'exit 130' INT TERM
chmod 755 "$sample"

# The programs are copied where the sample users may run them.
mkdir "$sample/bin"
cp "$build/check/spoolnag" "$sample/bin/"
[ ! -x "$build/examples/boxcheck" ] || cp "$build/examples/boxcheck" "$sample/bin/"
chmod 755 "$sample/bin"/*

cat >"$sample/passwd" <<'PW'
root:x:0:0:root:/root:/bin/sh
carol:x:999:999:below the limited uids:/home/carol:/bin/sh
alice:x:1001:1001:within the limit:/home/alice:/bin/sh
bob:x:1002:1002:over the limit:/home/bob:/bin/sh
PW
mkdir "$sample/mail"
cat >"$sample/mail/.boxquota" <<'LIMIT'
# users with uid 1000 and above may keep 4096 bytes
1000
4096
LIMIT
head -c 9000 /dev/zero >"$sample/mail/carol"
head -c 1500 /dev/zero >"$sample/mail/alice"
head -c 6000 /dev/zero >"$sample/mail/bob"
chmod 755 "$sample/mail"
chmod 644 "$sample/passwd" "$sample/mail"/* "$sample/mail/.boxquota"

say "Sample host in $sample, seen as /etc/passwd and /var/mail only"
say "inside a private mount namespace:"
say "  /var/mail/.boxquota: uids 1000 and above may keep 4096 bytes"
say "  carol  uid 999   mailbox 9000 bytes"
say "  alice  uid 1001  mailbox 1500 bytes"
say "  bob    uid 1002  mailbox 6000 bytes"
say ""
status=0
unshare -m --propagation private sh "$top/scripts/demo.sh" --in-namespace "$sample" || status=$?
say "" "Done; $sample removed, this host unchanged."
exit "$status"
