#!/bin/sh
# SPDX-License-Identifier: ISC
# bench/spoolwarn.sh [--quick] - one run of spoolwarn over 100,000 accounts,
# beside `find /var/mail -type f`, a plain walk of the same spool, as the
# floor; then first runs with every account due, at 1,000 and 50,000
# letters, to show that a letter costs the same however many there are.
#
# The host: accounts userI (uid 10000+I), I = 1..N, each with a sparse
# mailbox of 1,000 bytes (its own, as delivery makes it) under a limit of
# 10,000 bytes from uid 1000; in the "letters" case every hundredth is at
# 95% instead. Figures, each the
# median of several runs:
#   find       find /var/mail -type f > /dev/null
#   quiet      spoolwarn with nothing due and nothing recorded (the hourly
#              run on a healthy host)
#   recorded   the same with every hundredth login recorded (their mailboxes
#              still above the threshold): the state is read and kept
#   letters    a first run with every hundredth login due: N/100 letters to
#              a sendmail that does nothing (/bin/true), each recorded
#              before it goes (a line appended to the journal and synced)
# and, on hosts of L accounts all at 95% (L = 1,000 and 50,000): a first
# run sending L letters, five rounds with the two sizes taking turns; its
# wall time and processor time (user and system, of spoolwarn and every
# sendmail it ran), each per letter, the ratios of the two sizes, and how
# often the state file was replaced in that run (renames onto it, counted
# by strace in a run of its own; spoolwarn alone is traced, not the
# sendmails it starts).
# As root only: each run is in a private mount namespace with the files
# bound over /etc/passwd and /var/mail, and a fresh state folder on the
# build's disk (so that fsync costs what it costs) bound over
# /var/lib/spoolwarn, made on a tmpfs over /var/lib; the host's files are
# never touched. The spool is in the page cache after the first run: the
# figures are warm. Data in build/bench-data/spoolwarn.
#
# --quick: 1,000 accounts, one run each; letters at 1,000 only.
set -eu
cd "$(dirname "$0")/.."
[ "$(id -u)" = 0 ] || { echo "bench/spoolwarn.sh: needs root (private namespaces)" >&2; exit 77; }
n=100000 runs=5 lots="1000 50000" lot_runs=5
[ "${1:-}" = --quick ] && n=1000 runs=1 lots=1000 lot_runs=1
cmake -S . -B build -G Ninja -DSPOOLNAG_BENCH=ON > /dev/null
cmake --build build -j 2 --target spoolwarn > /dev/null
top=$(pwd)
data=$top/build/bench-data/spoolwarn/$n
if [ "$(cat "$data/stamp" 2>/dev/null)" != owned ]; then
	echo "bench: making $n accounts and mailboxes in $data"
	rm -rf "$data"
	mkdir -p "$data/mail" "$data/mail-letters"
	python3 - "$data" "$n" <<'PY'
import os, sys
data, n = sys.argv[1], int(sys.argv[2])
with open(os.path.join(data, "passwd"), "w") as f:
    f.write("root:x:0:0:root:/root:/bin/sh\n")
    for i in range(1, n + 1):
        f.write(f"user{i}:x:{10000 + i}:100:User {i}:/home/user{i}:/bin/sh\n")
for folder, every in (("mail", 0), ("mail-letters", 100)):
    for i in range(1, n + 1):
        size = 9500 if every and i % every == 0 else 1000
        with open(os.path.join(data, folder, f"user{i}"), "wb") as box:
            box.truncate(size)
            os.fchown(box.fileno(), 10000 + i, 100)  # its account's, as delivery makes it
    with open(os.path.join(data, folder, ".boxquota"), "w") as q:
        q.write("# bench\n1000\n10000\n")
with open(os.path.join(data, "state-recorded"), "w") as s:
    s.write("# spoolwarn state 1\n")
    for i in sorted(f"user{i}" for i in range(100, n + 1, 100)):
        s.write(f"90 {i}\n")
PY
	chmod -R a+rX "$data"
	echo owned >"$data/stamp"
fi

# one SPOOL STATE COMMAND...: the seconds COMMAND took, and the processor
# seconds (user and system) it and every process it started used, in a
# namespace with SPOOL over /var/mail and a fresh state folder (STATE
# copied in, unless -).
one() {
	spool=$1 state=$2
	shift 2
	unshare -m --propagation private sh -c '
		mount --bind "$1/passwd" /etc/passwd && mount --bind "$1/$2" /var/mail &&
		mount -t tmpfs -o mode=755 tmpfs /var/lib || exit 99
		mkdir -m 700 /var/lib/spoolwarn
		rm -rf "$1/state-run" && mkdir -m 700 "$1/state-run" &&
		mount --bind "$1/state-run" /var/lib/spoolwarn || exit 99
		[ "$3" = - ] || cp "$1/$3" /var/lib/spoolwarn/state
		chown -R 65534:65534 /var/lib/spoolwarn
		shift 3
		python3 -c "
import os, resource, sys, time
start = time.monotonic()
pid = os.fork()
if pid == 0:
    fd = os.open(\"/dev/null\", os.O_WRONLY)
    os.dup2(fd, 1)
    os.execvp(sys.argv[1], sys.argv[1:])
_, status = os.waitpid(pid, 0)
wall = time.monotonic() - start
r = resource.getrusage(resource.RUSAGE_CHILDREN)
print(\"%.3f %.3f\" % (wall, r.ru_utime + r.ru_stime))
sys.exit(0 if status == 0 else 98)
" setpriv --reuid=65534 --regid=65534 --clear-groups "$@"
	' sh "$data" "$spool" "$state" "$@"
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
measure() {
	label=$1
	shift
	i=0
	while [ $i -lt $runs ]; do
		one "$@"
		i=$((i + 1))
	done | median | xargs printf '%-10s %8s s\n' "$label"
}

sw=$top/build/spoolwarn/spoolwarn
echo "spoolwarn over $n accounts (median of $runs runs)"
measure find mail - find /var/mail -type f
measure quiet mail - "$sw" -S /bin/true
measure recorded mail-letters state-recorded "$sw" -S /bin/true
measure letters mail-letters - "$sw" -S /bin/true

# Every account due: L letters in one run.
for l in $lots; do
	lot=$top/build/bench-data/spoolwarn/lot-$l
	if [ ! -f "$lot/stamp-owned" ]; then
		echo "bench: making $l accounts, all due, in $lot"
		rm -rf "$lot"
		mkdir -p "$lot/mail"
		awk -v n="$l" 'BEGIN {
			print "root:x:0:0:root:/root:/bin/sh"
			for (i = 1; i <= n; i++)
				printf "user%d:x:%d:100:User %d:/home/user%d:/bin/sh\n", i, 10000 + i, i, i
		}' > "$lot/passwd"
		# Each mailbox its account's, as delivery makes it: only such a
		# mailbox counts.
		python3 -c '
import os, sys
for i in range(1, int(sys.argv[2]) + 1):
    path = os.path.join(sys.argv[1], "user%d" % i)
    with open(path, "w") as box:
        box.truncate(9500)
        os.fchown(box.fileno(), 10000 + i, 100)
' "$lot/mail" "$l"
		printf '# bench\n1000\n10000\n' > "$lot/mail/.boxquota"
		chmod -R a+rX "$lot"
		touch "$lot/stamp-owned"
	fi
done
# What making the files left to write back would otherwise be paid by the
# first runs' fsyncs.
sync
echo
echo "spoolwarn, first runs with every account due (sendmail: /bin/true; median of $lot_runs runs, the sizes taking turns)"
times=$(mktemp) trace=$(mktemp)
chmod 666 "$trace"
r=0
while [ $r -lt "$lot_runs" ]; do
	for l in $lots; do
		data=$top/build/bench-data/spoolwarn/lot-$l
		echo "$l $(one mail - "$sw" -S /bin/true)" >> "$times"
	done
	r=$((r + 1))
done
echo "  letters   seconds  ms/letter   cpu s  cpu ms/letter  renames of the state  (runs, seconds)"
first='' last=''
for l in $lots; do
	data=$top/build/bench-data/spoolwarn/lot-$l
	one mail - strace -qq -o "$trace" -e trace=rename,renameat,renameat2 \
		"$sw" -S /bin/true > /dev/null
	renames=$(grep -c '"state"' "$trace" || :)
	[ "$renames" -ge 1 ] || {
		echo "bench: the run of $l letters never wrote its state: it sent nothing" >&2
		exit 1
	}
	all=$(awk -v l="$l" '$1 == l { print $2 }' "$times" | sort -n | tr "\n" " " | sed "s/ $//")
	secs=$(awk -v l="$l" '$1 == l { print $2 }' "$times" | median)
	cpu=$(awk -v l="$l" '$1 == l { print $3 }' "$times" | median)
	awk -v l="$l" -v s="$secs" -v c="$cpu" -v r="$renames" -v all="$all" \
		'BEGIN { printf "  %7d  %8.3f  %9.3f  %6.2f  %13.3f  %20d  (%s)\n", l, s, s * 1000 / l, c, c * 1000 / l, r, all }'
	[ -z "$first" ] && first=$l:$secs:$cpu
	last=$l:$secs:$cpu
done
rm -f "$times" "$trace"
if [ "$first" != "$last" ]; then
	echo "$first $last" | awk '{ split($1, a, ":"); split($2, b, ":")
		printf "  %d letters took %.1f times as long as %d (%.1f times the processor time; %.0f times as many letters)\n",
			b[1], b[2] / a[2], a[1], b[3] / a[3], b[1] / a[1] }'
fi
