#!/bin/sh
# SPDX-License-Identifier: ISC
# bench-spoolstat.sh [ACCOUNTS] - times spoolstat on a made-up host.
#
# Builds a password file of ACCOUNTS lines (default 100000, uids from 1000)
# and a spool with a sparse mailbox for each (one in ten over a 500000-byte
# limit, every fiftieth missing), binds them over /etc/passwd and /var/mail
# in a private mount namespace, and times a few runs of build/spoolstat as
# root, then of the plain report as an ordinary user (uid 65534). Needs
# root; the host's own files are never touched. Prints timings only;
# nothing here passes or fails on speed.
set -eu
cd "$(dirname "$0")/.."
n=${1:-100000}
bin=$(realpath build/spoolstat/spoolstat)
[ "$(id -u)" = 0 ] || { echo "bench-spoolstat: needs root" >&2; exit 77; }

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir "$tmp/mail"
printf '# bench limit\n100\n500000\n' > "$tmp/mail/.boxquota"
awk -v n="$n" 'BEGIN {
	print "root:x:0:0:root:/root:/bin/sh"
	for (i = 0; i < n - 1; i++)
		printf "user%06d:x:%d:100:Bench user %d:/home/user%06d:/bin/sh\n", i, 1000 + i, i, i
}' > "$tmp/passwd"
# Sizes by class, so one truncate call makes thousands of files.
for class in 0 1 2 3 4 5 6 7 8 9; do
	size=$((class * 60000))
	awk -v n="$n" -v c="$class" -v d="$tmp/mail" 'BEGIN {
		for (i = c; i < n - 1; i += 10)
			if (i % 50 != 49) printf "%s/user%06d\n", d, i
	}' | xargs truncate -s "$size"
done
echo "bench-spoolstat: $(wc -l < "$tmp/passwd") password lines, $(ls "$tmp/mail" | wc -l) mailboxes"

unshare -m --propagation private sh -c '
	mount --bind "$1/passwd" /etc/passwd && mount --bind "$1/mail" /var/mail || exit 99
	for args in "" "-a" "-t 90" "--json -a"; do
		for run in 1 2 3; do
			/usr/bin/time -f "spoolstat $args: %e s elapsed, %U s user, %S s system, %M KiB max" \
				"$2" $args > "$1/out" 2> "$1/err" || true
			tail -1 "$1/err"
		done
		echo "  ($(wc -l < "$1/out") lines of output)"
	done
	for run in 1 2 3; do
		/usr/bin/time -f "spoolstat as uid 65534: %e s elapsed, %U s user, %S s system, %M KiB max" \
			setpriv --reuid=65534 --regid=65534 --clear-groups "$2" > "$1/out" 2> "$1/err" || true
		tail -1 "$1/err"
	done
	echo "  ($(wc -l < "$1/out") lines of output)"
' sh "$tmp" "$bin"
