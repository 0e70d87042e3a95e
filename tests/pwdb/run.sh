#!/bin/sh
# SPDX-License-Identifier: ISC
# run.sh PWDB GROUP - command-line tests of the database builder, in groups:
#   usage    options, help, version and exit statuses
#   build    what a build leaves behind, its mode, and that it replaces an
#            old database; a login repeated on a later line is no shared key
#   check    the check mode's report and exit status; a login and a uid
#            that share a key
#   failure  a failed build (no room, a read error of FILE) leaves the old
#            database untouched and no debris
#   input    a password file that is a folder, a FIFO or a device: 74 at
#            once (under a time bound), and nothing made beside it
#   sync     in a system-call trace: the new files are synced before they
#            are renamed; a failing second rename leaves the old database;
#            nothing is created by name without O_EXCL outside the build's
#            private folder, and no mode is set by name
#   lock     builds killed mid-way leave temporaries that the next build
#            removes; builds of one file take turns on FILE.pwdb.lock, and
#            one that waited for it reads FILE as it is then; a FILE changed
#            during a build is read again, and one changed during every
#            build fails with 75
#   planted  as root, in a folder of mode 1777: links that another user
#            plants at every name known in advance, or as soon as a build
#            makes one, change nothing outside the folder; nor, in a folder
#            of mode 777, does the build's own folder moved away and a link
#            put in its place
# PWDB_WRAPPER (environment, optional): a command put before every pwdb run,
# such as a memory checker, with WRAPPER_LOG set as for the spoolnag cases;
# its logs are shown when a group fails.
set -u
pwdb=$1 group=$2 real=$1
tmp=$(mktemp -d) || exit 1
watcher= # a process a group started in the background, stopped on the way out
trap '[ -n "$watcher" ] && kill "$watcher" 2> /dev/null; rm -rf "$tmp"' EXIT
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
. "$(dirname "$0")/../skip.sh"
# temporaries: how many of pwdb's temporary files and folders of passwd
# are here.
temporaries() {
	find . -maxdepth 1 \( -type f -o -type d -perm 700 \) |
		grep -c '^\./passwd\.pwdb-[A-Za-z0-9]\{6\}\(\.pag\|\.dir\)\{0,1\}$'
}
# in_progress: the private folders of builds of passwd that have begun
# their database.
in_progress() {
	find . -mindepth 1 -maxdepth 1 -type d -perm 700 -name 'passwd.pwdb-*' \
		-exec test -e '{}/passwd.pag' \; -print
}
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
	# The database's mode: the file's, without any write bit but the owner's.
	for modes in 640:640 600:600 664:644 666:644 660:640 604:604 646:644; do
		chmod "${modes%:*}" passwd
		expect 0 "$pwdb" passwd
		for f in passwd.pag passwd.dir; do
			[ "$(stat -c %a $f)" = "${modes#*:}" ] ||
				fail "$f: mode $(stat -c %a $f) from a file of ${modes%:*}, want ${modes#*:}"
		done
	done
	chmod 640 passwd
	[ -s out ] && fail "a build prints: $(cat out)"
	[ -f passwd.pag ] && [ -f passwd.dir ] || fail "no database files"
	[ "$(ls | grep -c pwdb-)" = 0 ] || fail "temporary files left: $(ls)"
	expect 0 "$pwdb" --check passwd
	# A rebuild replaces the files by renaming: an open reader keeps the old.
	ino=$(stat -c %i passwd.pag)
	echo 'bob:x:101:101::/:' >> passwd
	expect 0 "$pwdb" passwd
	[ "$(stat -c %i passwd.pag)" != "$ino" ] || fail "database rewritten in place"
	expect 0 "$pwdb" -c passwd
	# A login on a second line (another uid, or the same line again) is
	# stored once, as its first line, as a scan of the file finds it: no
	# key is shared, and neither the build nor the check says a word.
	printf 'alice:x:100:100:Alice:/home/alice:/bin/sh\nbob:x:101:101::/:\nalice:x:200:200:again:/:\nbob:x:101:101::/:\n' > passwd
	expect 0 "$pwdb" passwd
	[ -s out ] || [ -s err ] && fail "a build of a repeated login says: $(cat out err)"
	expect 0 "$pwdb" -c passwd
	[ -s out ] || [ -s err ] && fail "the check of a repeated login says: $(cat out err)"
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
	# A login of four bytes spells the key of a uid (its bytes in this
	# host's order): the first stored keeps the key, the lookups of the
	# other read the file and are right, so it is said, not a disagreement.
	uid=$(printf abcd | od -An -tu4 | tr -d ' ')
	for order in name uid; do
		line1="abcd:x:7:7::/:" line2="efgh:x:$uid:1::/:" other=uid
		[ $order = uid ] && line1=$line2 line2="abcd:x:7:7::/:" other=login
		printf '%s\n%s\n' "$line1" "$line2" > passwd
		said="pwdb: passwd: login \"abcd\" and uid $uid (\"efgh\") share one database key; lookups of the $other read the file"
		expect 0 "$pwdb" passwd
		[ "$(cat err)" = "$said" ] || fail "$order first, a build says: $(cat err)"
		expect 0 "$pwdb" -c passwd
		[ "$(cat out)" = "$said" ] || fail "$order first, the check says: $(cat out)"
	done
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
	# A read error in the middle of the file (its third block) fails the
	# build, which publishes nothing of what it read before.
	if command -v strace > /dev/null; then
		seq 0 29999 | awk '{ print "u" $1 ":x:" $1 ":100:User " $1 ":/home/u" $1 ":/bin/sh" }' > passwd
		expect 0 "$pwdb" passwd
		cp passwd.pag keep.pag
		cp passwd.dir keep.dir
		echo 'new:x:99999:1::/:' >> passwd
		# LeakSanitizer cannot run under ptrace.
		ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" expect 74 \
			strace -o /dev/null -P passwd -e trace=read -e inject=read:error=EIO:when=3 "$real" passwd
		grep -q '^pwdb: passwd: Input/output error$' err || fail "a read error: $(cat err)"
		cmp -s passwd.pag keep.pag && cmp -s passwd.dir keep.dir || fail "a read error changed the old database"
		[ "$(temporaries)" = 0 ] || fail "temporary files left: $(ls)"
	else
		echo "note: no strace, the read error is not tried"
	fi
	;;
input)
	mkdir folder
	mkfifo fifo
	ln -s /dev/zero zero
	: > out; : > err
	before=$(ls -a)
	for f in folder fifo zero; do
		expect 74 timeout 30 "$pwdb" "$f"
		want="pwdb: $f: not a regular file"
		[ $f = folder ] && want="pwdb: $f: Is a directory"
		[ "$(cat err)" = "$want" ] || fail "$f: $(cat err)"
		expect 74 timeout 30 "$pwdb" -c "$f"
	done
	[ "$(ls -a)" = "$before" ] || fail "made beside them: $(ls -a)"
	;;
sync)
	command -v strace > /dev/null || skip "needs strace"
	# LeakSanitizer cannot run under a tracer; the other groups look for leaks.
	traced() { ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" strace "$@"; }
	# Each new file is synced after it was last opened for writing, before
	# the first rename.
	traced -f -y -o trace -e trace=openat,fsync,fdatasync,rename,renameat,renameat2 \
		"$real" passwd > out 2> err || fail "a traced build failed: $(cat err)"
	awk '/openat\(.*O_RDWR.*= [0-9]+<[^>]*pwdb-[A-Za-z0-9]+\/passwd\.pag>/ { pag = 0 }
	     /openat\(.*O_RDWR.*= [0-9]+<[^>]*pwdb-[A-Za-z0-9]+\/passwd\.dir>/ { dir = 0 }
	     /f(data)?sync\(.*pwdb-[A-Za-z0-9]+\/passwd\.pag>/ { pag = 1 }
	     /f(data)?sync\(.*pwdb-[A-Za-z0-9]+\/passwd\.dir>/ { dir = 1 }
	     /rename(at2?)?\(/ && !renamed { renamed = 1; synced = pag && dir }
	     END { exit !synced }' trace || fail "not synced before the rename: $(grep -E 'pwdb-|rename' trace)"
	# The .dir is renamed first; when the .pag's rename then fails, the old
	# records are still in place and the status says it.
	# Nothing is made by name without O_EXCL but in the build's private
	# folder, reached through the descriptor it opened on it, and no mode is
	# set by name (a link could be followed).
	traced -f -o trace -e trace=%file "$real" passwd > out 2> err ||
		fail "a traced build failed: $(cat err)"
	awk '/openat\(.*pwdb-[A-Za-z0-9]+", O_RDONLY.*O_DIRECTORY.*= [0-9]+$/ {
		     private["/proc/self/fd/" $NF "/"] = 1 }
	     /O_CREAT/ && !/O_EXCL/ {
		     split($0, q, "\""); dir = q[2]; sub(/[^\/]*$/, "", dir)
		     if (!(dir in private)) { print; bad = 1 } }
	     / (creat|chmod|fchmodat|fchmodat2|truncate|link|symlink|mknod|mknodat)\(/ { print; bad = 1 }
	     END { exit bad }' trace > unsafe || fail "made or changed by name: $(cat unsafe)"
	cp passwd passwd.old
	cp passwd.pag keep.pag
	echo 'bob:x:101:101::/:' >> passwd
	expect 73 traced -f -o /dev/null -e trace=rename -e inject=rename:error=EIO:when=2 "$real" passwd
	[ "$(cat err)" = "pwdb: passwd.pag: Input/output error" ] || fail "message: $(cat err)"
	cmp -s passwd.pag keep.pag || fail "old database changed"
	[ "$(temporaries)" = 0 ] || fail "temporary files left: $(ls)"
	cp passwd.old passwd
	expect 0 "$pwdb" -c passwd
	;;
lock)
	seq 0 29999 | awk '{ print "u" $1 ":x:" $1 ":100:User " $1 ":/home/u" $1 ":/bin/sh" }' > passwd
	# Not pwdb's: other names, another file's, a symbolic link (to a folder
	# holding what a build leaves), a folder others may enter.
	touch passwd.pwdb-backup1 passwd.pwdb-1234567.pag other.pwdb-abc123 passwd.pwdb-ab.cd1
	ln -s passwd passwd.pwdb-link00
	mkdir -m 700 elsewhere && touch elsewhere/passwd.pag elsewhere/passwd.dir
	ln -s elsewhere passwd.pwdb-link01
	mkdir -m 755 passwd.pwdb-open00 && touch passwd.pwdb-open00/passwd.pag
	# What an earlier version, which took no lock, left when killed.
	touch passwd.pwdb-OLD123 passwd.pwdb-OLD123.pag passwd.pwdb-OLD123.dir
	for delay in 0.1 0.03 0; do # the last one as soon as it has begun
		in_progress > seen
		"$real" passwd > /dev/null 2>&1 &
		pid=$!
		n=0 # until this build has made a .pag of its own
		until in_progress | grep -qvxF -f seen || [ $n -ge 500 ]; do
			sleep 0.01; n=$((n + 1))
		done
		sleep $delay
		kill -9 $pid 2> /dev/null
		wait $pid 2> /dev/null
	done
	# Each build removes what the builds killed before it left: the last
	# one's folder stays.
	[ "$(in_progress | wc -l)" = 1 ] || fail "after three killed builds: $(in_progress)"
	expect 0 "$pwdb" passwd
	[ "$(temporaries)" = 0 ] || fail "temporary files left: $(ls)"
	for f in passwd.pwdb-backup1 passwd.pwdb-1234567.pag other.pwdb-abc123 passwd.pwdb-ab.cd1 \
		passwd.pwdb-link00 passwd.pwdb-link01 elsewhere/passwd.pag elsewhere/passwd.dir \
		passwd.pwdb-open00/passwd.pag; do
		[ -e "$f" ] || [ -L "$f" ] || fail "removed $f, which is not pwdb's"
	done
	expect 0 "$pwdb" -c passwd
	# Two builds started together both succeed, one after the other.
	"$pwdb" passwd > out1 2>&1 &
	a=$!
	"$pwdb" passwd > out2 2>&1 &
	b=$!
	wait $a || fail "the first of two builds: $(cat out1)"
	wait $b || fail "the second of two builds: $(cat out2)"
	[ "$(temporaries)" = 0 ] || fail "temporary files left: $(ls)"
	expect 0 "$pwdb" -c passwd
	# While the lock is held, a build waits for it.
	flock passwd.pwdb.lock sh -c ': > held; sleep 2' &
	holder=$!
	until [ -e held ]; do sleep 0.01; done
	ino=$(stat -c %i passwd.pag)
	"$real" passwd > out 2>&1 &
	pid=$!
	sleep 1
	kill -0 $pid 2> /dev/null || fail "a build did not wait for the lock"
	[ "$(stat -c %i passwd.pag)" = "$ino" ] || fail "a build replaced the database under the lock"
	wait $holder
	wait $pid || fail "the waiting build: $(cat out)"
	[ "$(stat -c %i passwd.pag)" != "$ino" ] || fail "the waiting build made nothing"
	# A build that waited for the lock while the file was replaced (as an
	# editor saves it: a new file renamed over the old) publishes the file
	# as it is when it gets the lock, not as it was when it started.
	head -n 100 passwd > passwd.new
	flock passwd.pwdb.lock sh -c ': > held2; sleep 2' &
	holder=$!
	until [ -e held2 ]; do sleep 0.01; done
	"$real" passwd > out 2>&1 &
	pid=$!
	sleep 1
	mv passwd.new passwd
	wait $holder
	wait $pid || fail "the build that waited: $(cat out)"
	expect 0 "$pwdb" -c passwd
	[ "$(wc -l < out)" = 0 ] || fail "a build that waited published an older file: $(head -3 out)"
	# A file replaced while a build reads it (held before its first rename)
	# is read again: the database follows the file as it is at the end.
	if command -v strace > /dev/null; then
		head -n 50 passwd > passwd.new
		ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" strace -f -o /dev/null \
			-e trace=rename -e inject=rename:delay_enter=1500000:when=1 "$real" passwd > out 2>&1 &
		pid=$!
		sleep 0.5
		mv passwd.new passwd
		wait $pid || fail "the build during which the file changed: $(cat out)"
		expect 0 "$pwdb" -c passwd
		[ ! -s out ] || fail "a build published the file as it was before it changed: $(head -3 out)"
		# A file that changes during every build (each held at its renames):
		# after the last one pwdb says so and exits 75, for a retry.
		ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" strace -f -o /dev/null \
			-e trace=rename -e inject=rename:delay_enter=200000 "$real" passwd > out 2> err &
		pid=$!
		while kill -0 $pid 2> /dev/null; do touch passwd; sleep 0.05; done
		wait $pid; got=$?
		[ "$got" = 75 ] || fail "a build during which the file kept changing exited $got, want 75"
		grep -q '^pwdb: passwd: changed during each of 5 builds; ' err ||
			fail "a file that kept changing: $(cat err)"
	fi
	;;
planted)
	[ "$(id -u)" = 0 ] || skip "needs root: links planted by another user for root to follow"
	command -v setpriv > /dev/null || skip "needs setpriv"
	chmod 755 "$tmp"
	mkdir -m 1777 shared
	mkdir outside
	printf 'precious\n' > outside/victim
	chmod 600 outside/victim
	victim() { stat -c '%s %a %u %i %Y' outside/victim; cat outside/victim; }
	before=$(victim)
	other() { setpriv --reuid=65534 --regid=65534 --clear-groups "$@"; }
	cp passwd shared/passwd
	# At the lock's name: not followed, the build stops.
	other ln -s "$tmp/outside/victim" shared/passwd.pwdb.lock
	expect 73 "$pwdb" shared/passwd
	grep -q '^pwdb: shared/passwd\.pwdb\.lock: ' err || fail "a link at the lock: $(cat err)"
	[ "$(victim)" = "$before" ] || fail "a link at the lock changed what it points to"
	rm shared/passwd.pwdb.lock
	# At the database's names, and at a killed build's: replaced or left.
	# Another user's folder named as a build's is not the build's to remove.
	for n in passwd.pag passwd.dir passwd.pwdb-AAAAAA passwd.pwdb-AAAAAA.pag; do
		other ln -s "$tmp/outside/victim" "shared/$n"
	done
	other mkdir -m 700 shared/passwd.pwdb-BBBBBB
	other touch shared/passwd.pwdb-BBBBBB/passwd.pag
	expect 0 "$pwdb" shared/passwd
	[ -e shared/passwd.pwdb-BBBBBB/passwd.pag ] || fail "removed another user's folder"
	[ "$(victim)" = "$before" ] || fail "links at the database's names changed what they point to"
	[ -f shared/passwd.pag ] && [ ! -L shared/passwd.pag ] && [ ! -L shared/passwd.dir ] ||
		fail "the links are still in place of the database"
	expect 0 "$pwdb" -c shared/passwd
	# At the names a build makes, as soon as it makes them: another user
	# watches the folder, while every file opened by the build waits a
	# little, so that the watcher is there first.
	if command -v strace > /dev/null; then
		other sh -c 'cd shared || exit 1
			rounds=0
			while [ ! -e ../stop ] && [ $rounds -lt 3000 ]; do
				rounds=$((rounds + 1))
				for t in passwd.pwdb-??????; do
					[ -e "$t" ] && [ ! -L "$t" ] || continue
					for n in "$t.pag" "$t.dir" "$t/passwd.pag" "$t/passwd.dir"; do
						ln -s "$1" "$n" 2> /dev/null
					done
				done
				sleep 0.01
			done' sh "$tmp/outside/victim" &
		watcher=$!
		ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" expect 0 strace -f -o /dev/null \
			-e trace=openat -e inject=openat:delay_enter=100000 "$real" shared/passwd
		: > stop
		wait $watcher
		watcher=
		[ "$(victim)" = "$before" ] || fail "links planted during a build changed what they point to"
		expect 0 "$pwdb" -c shared/passwd
		# Where others may also rename what is not theirs (no sticky bit),
		# the build's folder itself is moved away once the build has begun
		# its database there, and a link to another folder put in its place.
		mkdir -m 777 open
		cp passwd open/passwd
		printf 'precious\n' > outside/passwd.pag
		cp outside/passwd.pag outside/passwd.dir
		rm stop
		other sh -c 'cd open || exit 1
			rounds=0
			while [ ! -e ../stop ] && [ $rounds -lt 3000 ]; do
				rounds=$((rounds + 1))
				for t in passwd.pwdb-??????; do
					[ -d "$t" ] && [ ! -L "$t" ] || continue
					sleep 0.45 # the build opens it after 0.3 s, writes in it after 0.6 s
					mv "$t" "$t.moved" && ln -s "$1" "$t"
				done
				sleep 0.01
			done' sh "$tmp/outside" &
		watcher=$!
		ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" strace -f -o /dev/null \
			-e trace=openat -e inject=openat:delay_enter=300000 "$real" open/passwd > out 2> err
		got=$?
		: > stop
		wait $watcher
		watcher=
		ls open | grep -q 'moved$' || fail "the watcher moved no folder: $(ls open)"
		for f in passwd.pag passwd.dir; do
			[ "$(cat outside/$f)" = precious ] || fail "a build followed a link in place of its folder to $f"
		done
		# Moved before the build opened it, the folder is refused (73).
		case $got in
		0) expect 0 "$pwdb" -c open/passwd ;;
		73) echo "note: the folder was moved before the build opened it"
			grep -q '^pwdb: open/passwd\.pwdb-[A-Za-z0-9]*: ' err || fail "refused how: $(cat err)" ;;
		*) fail "a build whose folder was moved exited $got ($(cat err))" ;;
		esac
	else
		echo "note: no strace, links planted during a build are not tried"
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
