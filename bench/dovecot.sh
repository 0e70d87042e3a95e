#!/bin/sh
# SPDX-License-Identifier: ISC
# bench/dovecot.sh [--quick] - the boxquota quota backend in Debian's
# Dovecot beside Dovecot's own count backend under the same limit, and
# beside no quota at all, on the same host data: GETQUOTAROOT round trips
# per second and LMTP deliveries per second, at 1,000 and 100,000
# accounts.
#
# The host: accounts userI (uid 10000+I), I = 1..N, in /etc/passwd (the
# userdb, Debian's passwd); a sample of S of them, spread over the file,
# each with a home and a one-message mailbox of 1,000 bytes of its own;
# the limit 10,000,000 bytes from uid 1000, in /var/mail/.boxquota and, for
# count, as quota_rule = *:storage=10000000B (with quota_vsizes = yes, as
# count wants, and the boxquota conf file's lmtp_rcpt_check_quota = yes and
# quota_grace = 0, so that both answer the same question at the same
# moments). No account has folders under ~/mail: count's sum is INBOX
# alone, as boxquota's is. Dovecot, unpacked from Debian's packages, runs
# in private namespaces (tests/servers/dovecot-host.sh) with Debian's
# configuration; each set-up starts from a fresh copy of the mailboxes, is
# warmed (each sample account asked once, so count has its index), then:
#   quota   each sample account logs in over IMAP and asks GETQUOTAROOT
#           INBOX R times; only the commands are timed
#   lmtp    one LMTP connection delivers D messages of 2,000 bytes, one
#           recipient each, in turns over the sample accounts
# The set-ups take turns (none, count, boxquota), the rounds are repeated,
# and the medians are printed, with boxquota's cost per delivery over no
# quota as a share of a delivery. A run that measured nothing fails.
# As root only (namespaces); data in build/bench-data/dovecot.
#
# --quick: 1,000 accounts, one round, few commands.
set -eu
cd "$(dirname "$0")/.."
[ "$(id -u)" = 0 ] || { echo "bench/dovecot.sh: needs root (private namespaces)" >&2; exit 77; }
top=$(pwd)
SRC=$top DEBS=$top/.cache/debs
export SRC DEBS
. "$top/tests/servers/lib.sh"
. "$top/tests/servers/dovecot-host.sh"

# measure quota|lmtp|trace|warm USERS COUNT: the rate of the step in the
# running Dovecot, one line "quota|lmtp RATE CPU", CPU the processor
# milliseconds that Dovecot's processes (all of the namespace's but the
# client) spent per command or delivery; trace: "trace CALLS", the system
# calls of the LMTP process per delivery (strace -c, in a pass of its own,
# since tracing slows it); warm: each user opens INBOX and asks
# GETQUOTAROOT once, which may be refused, and nothing is printed. Fails
# when anything was refused or nothing was done.
measure()
{
	"$PYTHON" -B - "$SRC/tests/servers" "$@" <<'PY'
import os, subprocess, sys, time
sys.path.insert(0, sys.argv[1])
from mailclient import IMAP, LMTP
what, users, count = sys.argv[2], sys.argv[3].split(), int(sys.argv[4])
done, spent = 0, 0.0


def cpu():
    """Processor seconds of every process of the namespace but this one."""
    ticks = 0
    for pid in os.listdir("/proc"):
        if pid.isdigit() and int(pid) != os.getpid():
            try:
                with open(f"/proc/{pid}/stat") as f:
                    fields = f.read().rpartition(")")[2].split()
                ticks += int(fields[11]) + int(fields[12])
            except OSError:
                pass
    return ticks / os.sysconf("SC_CLK_TCK")


used = cpu()
if what in ("quota", "warm"):
    for user in users:
        s = IMAP(143)
        if not s.command(f'LOGIN "{user}" "secret"')[-1].split()[1] == "OK":
            sys.exit(f"bench: {user} cannot log in")
        if what == "warm":
            s.command("STATUS INBOX (MESSAGES)")
            s.command("GETQUOTAROOT INBOX")
            done, spent = done + 1, 1.0
        for _ in range(count):
            t = time.perf_counter()
            reply = s.command("GETQUOTAROOT INBOX")
            spent += time.perf_counter() - t
            if reply[-1].split()[1] != "OK":
                sys.exit(f"bench: GETQUOTAROOT for {user}: {reply}")
            done += 1
        s.send("a0 LOGOUT")
else:
    s = LMTP("/run/dovecot/lmtp")
    if what == "trace":
        s.command("NOOP")
        lmtp = [p for p in os.listdir("/proc") if p.isdigit() and
                open(f"/proc/{p}/comm").read().strip() == "lmtp"]
        log = f"/tmp/strace.{os.getpid()}"
        tracer = subprocess.Popen(["strace", "-c", "-f", "-o", log] +
                                  [a for p in lmtp for a in ("-p", p)],
                                  stderr=subprocess.DEVNULL)
        time.sleep(1)
    start = time.perf_counter()
    for i in range(count):
        user = users[i % len(users)]
        s.command("MAIL FROM:<sender@example.net>")
        s.command(f"RCPT TO:<{user}>")
        reply = s.data(2000, f"bench {i}")
        if not reply.startswith("250"):
            sys.exit(f"bench: delivery to {user}: {reply}")
        done += 1
    spent = time.perf_counter() - start
    s.send("QUIT")
    if what == "trace":
        time.sleep(0.5)
        tracer.terminate()
        tracer.wait()
        with open(log) as f:
            calls = [int(line.split()[3]) for line in f if line.rstrip().endswith(" total")]
        os.remove(log)
        if not calls or done == 0:
            sys.exit("bench: nothing traced")
        print("trace", f"{calls[0] / done:.1f}")
        sys.exit(0)
used = cpu() - used
if done == 0 or spent <= 0:
    sys.exit("bench: nothing measured")
print(what, f"{done / spent:.1f}", f"{1000 * used / done:.3f}")
PY
}

if [ "${1-}" = inside ]; then
	# inside DATA SETUP USERS R D T: one round of one set-up; T deliveries
	# traced, in the first round only.
	data=$2 setup=$3 users=$4
	WORK=$data/work.$setup
	dovecot_mounts "$WORK/tree"
	begin_host "$setup" "$WORK/host" "$WORK/syslog"
	start_dovecot
	measure warm "$users" 0 >/dev/null || fail "warming up"
	if [ "$setup" != none ]; then
		measure quota "$users" "$5" >>"$data/round"
	fi
	measure lmtp "$users" "$6" >>"$data/round"
	[ "$7" = 0 ] || measure trace "$users" "$7" >>"$data/round"
	exit 0
fi

sizes="1000 100000" sample=200 ask=10 deliveries=1000 rounds=3 traced=200
[ "${1:-}" = --quick ] && sizes=1000 sample=20 ask=5 deliveries=100 rounds=1 traced=50
need_namespaces
need_unpacked dovecot-core dovecot-imapd dovecot-lmtpd
cmake -S . -B build -G Ninja -DSPOOLNAG_BENCH=ON >/dev/null
cmake --build build -j 2 --target boxquota_plugin >/dev/null
plugin=$top/build/dovecot/lib11_boxquota_plugin.so

results=$top/build/bench-data/dovecot/results
mkdir -p "${results%/*}"
export PIDS=${results%/*}/pids.bench
trap 'stop_tracked' EXIT
: >"$results"
for n in $sizes; do
	data=$top/build/bench-data/dovecot/$n
	rm -rf "$data"
	mkdir -p "$data/mail"
	chmod 755 "$data"
	users=$("$PYTHON" - "$data" "$n" "$sample" <<'PY'
import sys
data, n, sample = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
with open(f"{data}/passwd", "w") as f:
    f.write("root:x:0:0:root:/root:/bin/sh\nmail:x:8:8:mail:/var/mail:/usr/sbin/nologin\n")
    for i in range(1, n + 1):
        f.write(f"user{i}:x:{10000 + i}:100:User {i}:{data}/home/user{i}:/bin/sh\n")
print(" ".join(f"user{i * n // sample}" for i in range(1, sample + 1)))
PY
)
	printf 'root:x:0:\nmail:x:8:\nusers:x:100:\n' >"$data/group"
	printf '%s\n' "$DOVECOT_PASSWD" >>"$data/passwd"
	printf '%s\n' "$DOVECOT_GROUP" >>"$data/group"
	printf '# bench limit\n1000\n10000000\n' >"$data/mail/.boxquota"
	for user in $users; do
		id=$((10000 + ${user#user}))
		mkdir -p "$data/home/$user"
		chown "$id:100" "$data/home/$user"
		mbox_of 1000 "$user" >"$data/mail/$user"
		chown "$id:8" "$data/mail/$user"
		chmod 600 "$data/mail/$user"
	done
	chmod 644 "$data/passwd" "$data/group" "$data/mail/.boxquota"
	chown root:8 "$data/mail"
	chmod 2775 "$data/mail"
	for setup in none count boxquota; do
		t=$data/work.$setup/tree
		mkdir -p "$data/work.$setup"
		if [ $setup = boxquota ]; then
			dovecot_tree "$t" "$plugin"
			dovecot_quota "$t" "$top/dovecot/90-boxquota.conf"
		else
			dovecot_tree "$t"
		fi
		[ $setup = count ] && dovecot_quota "$t" 'mail_plugins = $mail_plugins quota
protocol imap {
  mail_plugins = $mail_plugins imap_quota
}
protocol lmtp {
  lmtp_rcpt_check_quota = yes
}
plugin {
  quota = count:User quota
  quota_rule = *:storage=10000000B
  quota_vsizes = yes
  quota_grace = 0
}'
	done
	mv "$data/home" "$data/home.clean"
	echo "bench: $n accounts, $sample of them asked and delivered to, $rounds round(s)"
	r=0
	while [ $r -lt $rounds ]; do
		for setup in none count boxquota; do
			w=$data/work.$setup
			rm -rf "${w:?}/host" "${w:?}/dev.$setup" "${data:?}/home"
			mkdir -p "$w/host"
			cp -a "$data/mail" "$data/passwd" "$data/group" "$w/host/"
			cp -a "$data/home.clean" "$data/home"
			: >"$data/round"
			t=0
			[ $r != 0 ] || t=$traced
			WORK=$w enter_host "$0" inside "$data" "$setup" "$users" "$ask" "$deliveries" $t
			status=0
			wait "$HOST_PID" || status=$?
			stop_tracked
			if [ $status != 0 ] || [ ! -s "$data/round" ]; then
				tail -n 20 "$w/syslog" >&2 || :
				fail "$setup at $n accounts: nothing measured"
			fi
			sed "s/^/$n $setup /" "$data/round" >>"$results"
		done
		r=$((r + 1))
	done
done

# median N SETUP quota|lmtp [FIELD]: the median of the rounds' rates (or
# FIELD 5, their processor milliseconds).
median()
{
	awk -v n="$1" -v s="$2" -v w="$3" -v f="${4:-4}" '$1 == n && $2 == s && $3 == w { print $f }' "$results" |
		sort -n | awk '{ v[NR] = $1 } END { print NR ? v[int((NR + 1) / 2)] : "-" }'
}

echo "Dovecot, medians of the rounds: GETQUOTAROOT round trips and LMTP deliveries per second,"
echo "and the processor milliseconds Dovecot spent on each:"
echo "and the LMTP process's system calls per delivery (strace -c, a traced pass of its own):"
echo "  accounts  set-up    GETQUOTAROOT/s  cpu ms  deliveries/s  cpu ms  syscalls"
for n in $sizes; do
	for setup in none count boxquota; do
		printf '  %8d  %-8s  %14s  %6s  %12s  %6s  %8s\n' "$n" "$setup" "$(median "$n" $setup quota)" \
			"$(median "$n" $setup quota 5)" "$(median "$n" $setup lmtp)" "$(median "$n" $setup lmtp 5)" \
			"$(median "$n" $setup trace)"
	done
	awk -v none="$(median "$n" none lmtp)" -v count="$(median "$n" count lmtp)" \
		-v box="$(median "$n" boxquota lmtp)" -v quota="$(median "$n" boxquota quota)" \
		-v cquota="$(median "$n" count quota)" -v nonecpu="$(median "$n" none lmtp 5)" \
		-v boxcpu="$(median "$n" boxquota lmtp 5)" -v n="$n" 'BEGIN {
		printf "  %8d  boxquota over no quota: %+.1f%% of the time of a delivery, %+.1f%% of its processor time\n",
			n, 100 * (1 / box - 1 / none) / (1 / box), 100 * (boxcpu - nonecpu) / boxcpu
		printf "  %8d  boxquota against count: deliveries %.2fx, GETQUOTAROOT %.2fx\n",
			n, box / count, quota / cquota }'
done
