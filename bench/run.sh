#!/bin/sh
# bench/run.sh [--quick] - measures the account lookup and spoolnag.
#
# Builds the benchmarks into build/ (-DSPOOLNAG_BENCH=ON), makes password
# files of 1,000, 100,000 and 1,000,000 accounts with their hashed databases
# (kept in build/bench-data/ and remade only when missing or when pwdb
# changed), then
# reports, each figure a median, the ratios all from this one run (the
# measured programs and benchmarks take turns, so a noisy moment on the
# machine falls on all of them alike):
#   1. whole processes: spoolnag on a 1,000-account host next to a static
#      program that does nothing; one lookup of the last account per process
#      (ours on the flat file and on the database, the C library's getpwuid,
#      and a plain read of the file) with their wall time and peak memory;
#   2. in-process (Google Benchmark): the same lookups, repeated.
# The C library and spoolnag read the fixed paths: as root, each runs in a
# private mount namespace with the test files bound over /etc/passwd and
# /var/mail, as an ordinary user (setpriv); the host's files are never
# touched. Without root those parts are left out.
#
# --quick: 1,000 accounts only, few runs; to see that everything still works.
set -eu
cd "$(dirname "$0")/.."
umask 022

quick=
case "${1:-}" in
--quick) quick=1 ;;
'') ;;
*) echo "usage: sh bench/run.sh [--quick]" >&2; exit 64 ;;
esac
if [ -n "$quick" ]; then
	sizes=1000 proc_runs=3 lookup_runs=3
	gbench="--benchmark_repetitions=1 --benchmark_min_time=0.01"
else
	sizes="1000 100000 1000000" proc_runs=500 lookup_runs=15
	gbench="--benchmark_repetitions=9 --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true"
fi

cmake -S . -B build -G Ninja -DSPOOLNAG_BENCH=ON > /dev/null
cmake --build build -j 2 --target lookup_bench lookup_once libc_lookup nothing proc_bench \
	spoolnag spoolnag_dynamic pwdb > /dev/null
top=$(pwd)
bin=$top/build/bench
data=$top/build/bench-data

# Accounts userI with uid 10000+I and gid 100, I = 1..N; the last is looked up.
stamp="accounts v1, pwdb $(cksum < pwdb/pwdb.cc)"
for n in $sizes; do
	dir=$data/$n
	if [ ! -f "$dir/stamp" ] || [ "$(cat "$dir/stamp")" != "$stamp" ]; then
		echo "bench: making $n accounts and their database in $dir"
		rm -rf "$dir"
		mkdir -p "$dir/flat" "$dir/db"
		awk -v n="$n" 'BEGIN {
			for (i = 1; i <= n; i++)
				printf "user%d:x:%d:100:User Number %d,,,:/home/user%d:/bin/sh\n", i, 10000 + i, i, i
		}' > "$dir/flat/passwd"
		ln "$dir/flat/passwd" "$dir/db/passwd"
		build/pwdb/pwdb "$dir/db/passwd"
		echo "$stamp" > "$dir/stamp"
	fi
done
mkdir -p "$data/mail"
printf '# bench\n1000\n50000000\n' > "$data/mail/.boxquota"
head -c 1000 /dev/zero > "$data/mail/user1000"
chmod -R a+rX "$data"

# in_host PASSWD UID GID PROGRAM [ARG...]: PROGRAM as UID:GID with PASSWD
# over /etc/passwd and build/bench-data/mail over /var/mail.
in_host() {
	passwd=$1 u=$2 g=$3
	shift 3
	unshare -m --propagation private sh -c '
		mount --bind "$1" /etc/passwd && mount --bind "$2" /var/mail || exit 99
		u=$3 g=$4; shift 4
		exec setpriv --reuid="$u" --regid="$g" --clear-groups "$@"' sh "$passwd" "$data/mail" "$u" "$g" "$@"
}

status=0
echo "== $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, $(uname -r)"
if [ "$(id -u)" = 0 ] && unshare -m --propagation private true 2>/dev/null; then
	echo
	echo "== spoolnag on a host of 1000 accounts (the caller is the last), $proc_runs runs each"
	in_host "$data/1000/flat/passwd" 11000 100 "$bin/proc_bench" "$proc_runs" \
		-- "nothing (static)" "$bin/nothing" \
		-- "spoolnag" "$top/build/check/spoolnag" \
		-- "spoolnag (dynamic)" "$top/build/bench/spoolnag_dynamic" || status=1
	ls -l build/check/spoolnag build/bench/spoolnag_dynamic | awk '{ print $5, $NF }'
	for n in $sizes; do
		uid=$((10000 + n))
		echo
		echo "== one lookup of the last of $n accounts per process, $lookup_runs runs each"
		in_host "$data/$n/flat/passwd" 65534 65534 "$bin/proc_bench" "$lookup_runs" \
			-- "read floor (read())" "$bin/lookup_once" read "$data/$n/flat/passwd" \
			-- "flat file (ours)" "$bin/lookup_once" uid "$data/$n/flat/passwd" "$uid" \
			-- "database (ours)" "$bin/lookup_once" uid "$data/$n/db/passwd" "$uid" \
			-- "C library getpwuid" "$bin/libc_lookup" "$uid" || status=1
	done
else
	echo "bench: not root (or no mount namespace): whole-process figures left out"
fi

echo
echo "== in-process lookups (Google Benchmark)"
# shellcheck disable=SC2086 # the sizes and options are split on purpose
"$bin/lookup_bench" "$data" $sizes $gbench --benchmark_color=false 2>&1 || status=1
exit $status
