#!/bin/sh
# SPDX-License-Identifier: ISC
# selftest.sh WRITER - shows that the no-write check can fail: trace.sh must
# pass a program that only reads and prints, and catch each kind of change
# that writer makes, naming it; and a trace in which the program never
# started must not pass either.
set -u
writer=$1
here=$(cd "$(dirname "$0")" && pwd)
tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# trace ACTION: runs writer ACTION on a fresh file under trace.sh.
trace() {
	printf 'content\n' > "$tmp/file"
	rm -rf "$tmp/file.new" "$tmp/file.d" "$tmp/file.ln"
	WRAPPER_LOG=$tmp/$1 sh "$here/trace.sh" "$writer" "$1" "$tmp/file" > "$tmp/out" 2>&1
}

trace read; status=$?
[ $status = 0 ] || fail "a reading program was not let through (status $status): $(cat "$tmp/read.report")"
[ "$(cat "$tmp/out")" = content ] || fail "the traced program's output was lost: $(cat "$tmp/out")"
grep -q '^[0-9]* *execve(' "$tmp/read.trace" || fail "the trace does not show the program"

for want in create:'opened for writing' rdwr:'opened for writing' \
	append:'opened for writing' fdwrite:'written other than' mmap:'shared writable' \
	rename:'changes the file system' unlink:'changes the file system' \
	truncate:'changes the file system' chmod:'changes the file system' \
	mkdir:'changes the file system' symlink:'changes the file system'; do
	action=${want%%:*} why=${want#*:}
	trace "$action"; status=$?
	[ $status = 125 ] || fail "$action: status $status, want 125"
	grep -qF "FORBIDDEN ($why" "$tmp/$action.report" 2>/dev/null ||
		fail "$action: not reported as '$why': $(cat "$tmp/$action.report" 2>/dev/null)"
done

WRAPPER_LOG=$tmp/absent sh "$here/trace.sh" "$tmp/no-such-program" > /dev/null 2>&1; status=$?
[ $status = 125 ] || fail "a program that never ran passed the check (status $status)"
grep -q 'FORBIDDEN (no trace)' "$tmp/absent.report" || fail "no-trace not reported"

[ $failures = 0 ] && echo "ok: the no-write check catches every kind of change"
[ $failures = 0 ]
