#!/bin/sh
# run.sh PWDB GROUP - command-line tests of the database builder, in groups:
#   usage    options, help, version and exit statuses
#   build    what a build leaves behind, and that it replaces an old database
#   check    the check mode's report and exit status
#   failure  a failed build leaves the old database untouched and no debris
# PWDB_WRAPPER (environment, optional): a command put before every pwdb run,
# such as a memory checker, with WRAPPER_LOG set as for the spoolnag cases;
# its logs are shown when a group fails.
set -u
pwdb=$1 group=$2
tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT
if [ -n "${PWDB_WRAPPER:-}" ]; then
	mkdir "$tmp/.wrap"
	printf '#!/bin/sh\nexec %s "%s" "$@"\n' "$PWDB_WRAPPER" "$pwdb" > "$tmp/.wrap/pwdb"
	chmod +x "$tmp/.wrap/pwdb"
	pwdb=$tmp/.wrap/pwdb
	export WRAPPER_LOG="$tmp/.wrap/log"
fi
cd "$tmp" || exit 1
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# expect STATUS CMD...: runs CMD, keeps its output in out/err, checks status.
expect() {
	want=$1; shift
	"$@" > out 2> err; got=$?
	[ "$got" = "$want" ] || fail "$* exited $got, want $want ($(cat err))"
}
# full CMD...: runs CMD with standard output on a full device; it must say so
# and exit 74, whatever it would have answered.
full() {
	"$@" > /dev/full 2> err; got=$?
	[ "$got" = 74 ] || fail "$* > /dev/full exited $got, want 74"
	grep -q '^pwdb: standard output: No space left on device$' err ||
		fail "$* > /dev/full: $(cat err)"
}
printf 'root:x:0:0:root:/root:/bin/sh\nalice:x:100:100:Alice:/home/alice:/bin/sh\nbad line\n' > passwd

case $group in
usage)
	expect 0 "$pwdb" --help
	grep -q '^usage: pwdb \[FILE\]' out || fail "--help shows no usage"
	expect 0 "$pwdb" --version
	grep -q '^pwdb [0-9]' out || fail "--version: $(cat out)"
	expect 64 "$pwdb" -x passwd
	grep -q 'unknown option -x' err || fail "unknown option not named: $(cat err)"
	expect 64 "$pwdb" --bogus
	grep -q 'unknown option --bogus' err || fail "unknown long option not named: $(cat err)"
	expect 64 "$pwdb" --check=yes passwd
	grep -q 'option --check takes no argument' err || fail "argument refused how: $(cat err)"
	expect 64 "$pwdb" passwd passwd
	expect 66 "$pwdb" missing
	[ "$(cat err)" = "pwdb: missing: No such file or directory" ] || fail "message: $(cat err)"
	expect 66 "$pwdb" -c passwd
	grep -q '^pwdb: passwd: no database' err || fail "check without database: $(cat err)"
	expect 0 "$pwdb" -- passwd
	full "$pwdb" --help
	full "$pwdb" --version
	;;
build)
	chmod 640 passwd
	expect 0 "$pwdb" passwd
	[ -s out ] && fail "a build prints: $(cat out)"
	[ -f passwd.pag ] && [ -f passwd.dir ] || fail "no database files"
	[ "$(stat -c %a passwd.pag)" = 640 ] || fail "mode $(stat -c %a passwd.pag), want the file's 640"
	[ "$(ls | grep -c pwdb-)" = 0 ] || fail "temporary files left: $(ls)"
	expect 0 "$pwdb" --check passwd
	# A rebuild replaces the files by renaming: an open reader keeps the old.
	ino=$(stat -c %i passwd.pag)
	echo 'bob:x:101:101::/:' >> passwd
	expect 0 "$pwdb" passwd
	[ "$(stat -c %i passwd.pag)" != "$ino" ] || fail "database rewritten in place"
	expect 0 "$pwdb" -c passwd
	;;
check)
	expect 0 "$pwdb" passwd
	printf 'root:x:0:0:root:/root:/bin/sh\nalice:x:100:100:Changed:/home/alice:/bin/sh\ncarol:x:7:7::/:\n' > passwd
	expect 1 "$pwdb" -c passwd
	for line in 'login "alice" differs' 'uid 100 ("alice") differs' 'login "carol" differs' 'uid 7 ("carol") differs'; do
		grep -q "$line" out || fail "report lacks: $line"
	done
	[ "$(wc -l < out)" = 4 ] || fail "report has other lines: $(cat out)"
	full "$pwdb" -c passwd
	printf 'root:x:0:0:root:/root:/bin/sh\n' > passwd
	expect 1 "$pwdb" -c passwd
	grep -q 'database key "alice" has no account' out || fail "stale key not reported: $(cat out)"
	;;
failure)
	if [ "$(id -u)" = 0 ]; then
		echo "note: as root, folder permissions do not stop the build; using a full file system instead"
		command -v unshare > /dev/null && unshare -m --propagation private true 2>/dev/null || { echo "SKIP: needs a mount namespace"; exit 77; }
		expect 0 "$pwdb" passwd
		cp passwd.pag keep.pag
		mkdir small
		cp passwd passwd.pag passwd.dir small/
		# Room for the copies but not for a new database.
		unshare -m --propagation private sh -c '
			mount -t tmpfs -o size=64k tmpfs "$1/small" &&
			cp "$1/passwd" "$1/keep.pag" "$1/small/" &&
			mv "$1/small/keep.pag" "$1/small/passwd.pag" &&
			cp "$1/passwd.dir" "$1/small/" &&
			head -c 20000 /dev/zero > "$1/small/fill" 2>/dev/null
			for i in $(seq 3000); do echo "u$i:x:$((i+1000)):1:$(printf %0200d 0):/:" ; done >> "$1/small/passwd" 2>/dev/null
			"$2" "$1/small/passwd"; echo "status $?"
			cmp -s "$1/small/passwd.pag" "$1/keep.pag" && echo same
			ls "$1/small" | grep -c pwdb- ' sh "$tmp" "$pwdb" > result 2>&1
		grep -q 'status 7[34]' result || fail "a build on a full disk: $(cat result)"
		grep -q '^same$' result || fail "old database changed: $(cat result)"
		[ "$(tail -1 result)" = 0 ] || fail "temporary files left: $(cat result)"
	else
		expect 0 "$pwdb" passwd
		cp passwd.pag keep.pag
		chmod 555 .
		expect 73 "$pwdb" passwd
		chmod 755 .
		cmp -s passwd.pag keep.pag || fail "old database changed"
	fi
	;;
*) echo "unknown group $group"; exit 2 ;;
esac
if [ $failures != 0 ] && [ -d "$tmp/.wrap" ]; then
	for f in "$tmp"/.wrap/log.*; do
		[ -s "$f" ] && { echo "--- ${f##*/}:"; cat "$f"; }
	done
fi
[ $failures = 0 ] && echo "ok: pwdb $group"
[ $failures = 0 ]
