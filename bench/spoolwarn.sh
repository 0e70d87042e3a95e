#!/bin/sh
# SPDX-License-Identifier: ISC
# bench/spoolwarn.sh [--quick] - one run of spoolwarn over 100,000 accounts,
# beside `find /var/mail -type f`, a plain walk of the same spool, as the
# floor.
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
#              before it goes (a state write with two fsyncs)
# As root only: each run is in a private mount namespace with the files
# bound over /etc/passwd and /var/mail, and a fresh state folder on the
# build's disk (so that fsync costs what it costs) bound over
# /var/lib/spoolwarn, made on a tmpfs over /var/lib; the host's files are
# never touched. The spool is in the page cache after the first run: the
# figures are warm. Data in build/bench-data/spoolwarn.
#
# --quick: 1,000 accounts, one run each.
set -eu
cd "$(dirname "$0")/.."
[ "$(id -u)" = 0 ] || { echo "bench/spoolwarn.sh: needs root (private namespaces)" >&2; exit 77; }
n=100000 runs=5
[ "${1:-}" = --quick ] && n=1000 runs=1
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

# one SPOOL STATE COMMAND...: seconds for COMMAND in a namespace with SPOOL
# over /var/mail and a fresh state folder (STATE copied in, unless -).
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
		start=$(date +%s.%N)
		setpriv --reuid=65534 --regid=65534 --clear-groups "$@" >/dev/null || exit 98
		end=$(date +%s.%N)
		echo "$start $end" | awk "{ printf \"%.3f\n\", \$2 - \$1 }"
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
