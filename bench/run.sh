#!/bin/sh
# SPDX-License-Identifier: ISC
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
#   2. in-process (Google Benchmark): the same lookups, repeated, and the
#      flat-file ones again with the C library's memmem as their byte
#      search (lookup_bench_memmem);
#   3. boxpolicy: RCPT requests per second on one connection, as Postfix
#      asks (one request, its answer, the next), at 1,000 and 100,000
#      accounts, on the flat file and with the database, its peak memory and
#      its private memory after 2,000 requests; and socketmap lookups per
#      second, as local(8) asks, with the database;
#   4. spoolwarn (bench/spoolwarn.sh): a run over a host beside a walk of
#      its spool, and first runs with every account due, the cost of a
#      letter at 1,000 and 50,000 letters (--quick: 1,000 accounts and
#      1,000 letters);
#   5. Dovecot (bench/dovecot.sh): GETQUOTAROOT round trips and LMTP
#      deliveries per second with the boxquota backend, Dovecot's own count
#      backend and no quota, at 1,000 and 100,000 accounts (--quick: 1,000),
#      when the plugin is built and Dovecot is unpacked.
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
	sizes=1000 proc_runs=3 lookup_runs=3 policy_sizes=1000 policy_runs=1 policy_seconds=0.2
	gbench="--benchmark_repetitions=1 --benchmark_min_time=0.01"
else
	sizes="1000 100000 1000000" proc_runs=500 lookup_runs=15
	policy_sizes="1000 100000" policy_runs=3 policy_seconds=3
	gbench="--benchmark_repetitions=9 --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true"
fi

cmake -S . -B build -G Ninja -DSPOOLNAG_BENCH=ON > /dev/null
cmake --build build -j 2 --target lookup_bench lookup_bench_memmem lookup_once libc_lookup nothing proc_bench \
	spoolnag spoolnag_static pwdb policy_bench boxpolicy > /dev/null
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
		-- "spoolnag (as built)" "$top/build/check/spoolnag" \
		-- "spoolnag (static)" "$top/build/bench/spoolnag_static" || status=1
	ls -l build/check/spoolnag build/bench/spoolnag_static | awk '{ print $5, $NF }'
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

	# boxpolicy's spool: every 10th account has a mailbox of 1 MB, every
	# 100th one of 60 MB, over the limit of 50 MB: 1 in 100 is refused.
	# Each is owned by its account (userI, uid 10000+I), as delivery makes
	# it: boxpolicy counts no other.
	pmail=$data/policy-mail
	if [ "$(cat "$pmail/stamp" 2>/dev/null)" != v2 ]; then
		rm -rf "$pmail"
		mkdir -p "$pmail"
		printf '# bench\n1000\n50000000\n' > "$pmail/.boxquota"
		(cd "$pmail" && awk 'BEGIN { for (i = 10; i <= 100000; i += 10) if (i % 100) print "user" i }' |
			xargs truncate -s 1000000 &&
			awk 'BEGIN { for (i = 100; i <= 100000; i += 100) print "user" i }' |
			xargs truncate -s 60000000) &&
			python3 -c 'import os, sys
for f in os.listdir(sys.argv[1]):
    if f.startswith("user"):
        os.chown(os.path.join(sys.argv[1], f), 10000 + int(f[4:]), 100)' "$pmail"
		chmod -R a+rX "$pmail"
		echo v2 > "$pmail/stamp"
	fi
	echo
	echo "== boxpolicy: RCPT requests on one connection, ${policy_seconds} s a run, $policy_runs runs each"
	: > "$data/policy.out"
	r=0
	while [ $r -lt "$policy_runs" ]; do
		r=$((r + 1))
		for n in $policy_sizes; do
			# none: the recipients are at a domain it is not given, so it
			# answers without a lookup: the floor of the protocol itself.
			# lookup: socketmap lookups, as local(8) asks, with the database.
			for kind in flat db none lookup; do
				dir=$data/$n/$kind domain=example.org mode=
				[ $kind = none ] && dir=$data/$n/db domain=example.net
				[ $kind = lookup ] && dir=$data/$n/db mode=-s
				# boxpolicy reads the fixed /etc/passwd: the folder is bound
				# over /etc, with the loader's cache for the programs.
				cp /etc/ld.so.cache "$dir/"
				line=$(unshare -m --propagation private sh -c '
					mount --bind "$1" /etc && mount --bind "$2" /var/mail || exit 99
					shift 2
					exec setpriv --reuid=65534 --regid=65534 --clear-groups "$@"' sh \
					"$dir" "$pmail" "$bin/policy_bench" $mode "$policy_seconds" "$n" \
					-- "$top/build/policy/boxpolicy" "$domain") || status=1
				echo "$n $kind $line" | tee -a "$data/policy.out"
			done
		done
	done
	echo "boxpolicy, median of the runs (private: Private_Dirty after 2,000 requests):"
	echo "  accounts  lookup      requests/s  peak RSS KiB  private KiB"
	for n in $policy_sizes; do
		for kind in flat db none lookup; do
			awk -v n="$n" -v k="$kind" '$1 == n && $2 == k { print $7, $13, $17 }' "$data/policy.out" |
				sort -n | awk -v n="$n" -v k="$kind" '{ r[NR] = $1; m[NR] = $2; p[NR] = $3 }
				END { printf "  %8d  %-9s  %11.0f  %12d  %11d\n", n,
					k == "db" ? "database" : k == "flat" ? "flat file" : k == "lookup" ? "socketmap" : "none",
					r[int((NR + 1) / 2)], m[int((NR + 1) / 2)], p[int((NR + 1) / 2)] }'
		done
	done
	echo
	echo "== spoolwarn"
	sh bench/spoolwarn.sh ${quick:+--quick} || status=1
	echo
	echo "== Dovecot"
	if [ -d build/dovecot ] && [ -e .cache/debs/dovecot-lmtpd/.unpacked ]; then
		sh bench/dovecot.sh ${quick:+--quick} || status=1
	else
		echo "bench: the Dovecot plugin is not built or Dovecot not unpacked (scripts/setup.sh): left out"
	fi
else
	echo "bench: not root (or no mount namespace): whole-process, boxpolicy and spoolwarn figures left out"
fi

echo
echo "== in-process lookups (Google Benchmark)"
# shellcheck disable=SC2086 # the sizes and options are split on purpose
"$bin/lookup_bench" "$data" $sizes $gbench --benchmark_color=false 2>&1 || status=1
echo
echo "== the flat-file lookups with memmem as their byte search"
# shellcheck disable=SC2086 # the sizes and options are split on purpose
"$bin/lookup_bench_memmem" "$data" $sizes $gbench --benchmark_color=false \
	--benchmark_filter='^(floor|flat_uid|flat_name)/' 2>&1 || status=1
exit $status
