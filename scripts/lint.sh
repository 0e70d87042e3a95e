#!/bin/sh
# SPDX-License-Identifier: ISC
# Static checks of our own code, from the top of the tree:
#   clang-tidy  (.clang-tidy) over the sources of limit/, account/, spool/,
#               check/, spoolstat/, spoolwarn/, pwdb/, pam/, policy/ and fuzz/, and the
#               headers they include;
#   cppcheck    over the same folders, common/, examples/, tests/notouch/
#               and tests/pam/;
#   clang-format (.clang-format) over every C and C++ file we keep but the
#               tests' own, whose case tables are aligned by hand.
# tests/ and bench/ are left to the compilers' warnings: GoogleTest's macros
# are noise to the analysers, and the benchmarks are measuring harnesses whose
# callback shapes Google Benchmark dictates. clang-tidy reads its flags from a compile database that this
# script configures (no build) in build-lint/ with clang and the fuzz targets.
#
# Exit 0 when all pass, 1 when any finds something. FORMAT=warn reports
# files that are not formatted without failing; format them all with
#   clang-format -i $(git ls-files '*.c' '*.cc' '*.h' ':!tests/*' 'tests/notouch/*')
set -u
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
status=0

sources=$(find limit account spool check pwdb spoolstat spoolwarn pam policy fuzz -name '*.cc' | sort)

echo "lint: clang-tidy"
CC=clang CXX=clang++ cmake -S . -B build-lint -G Ninja -DSPOOLNAG_FUZZ=ON -DSPOOLNAG_TESTS=OFF \
	-DSPOOLNAG_WERROR=ON -DCMAKE_EXPORT_COMPILE_COMMANDS=ON > build-lint.log 2>&1 || {
	cat build-lint.log; echo "lint: cannot configure build-lint"; exit 1; }
rm -f build-lint.log
# shellcheck disable=SC2086 # one file a word
printf '%s\n' $sources | xargs -P "$jobs" -n 1 clang-tidy -p build-lint --quiet 2> build-lint/tidy.err || {
	grep -v 'warnings\? generated\|warnings\? treated as errors' build-lint/tidy.err
	echo "lint: clang-tidy found the above"; status=1; }

echo "lint: cppcheck"
cppcheck --std=c++20 --enable=warning,style,performance,portability --inline-suppr \
	--error-exitcode=1 --quiet --suppress=missingIncludeSystem \
	-I account -I limit -I limit/include -I spool -I common -I spoolstat -I spoolwarn -I policy \
	limit account spool check pwdb spoolstat spoolwarn pam policy common fuzz examples tests/notouch tests/pam || {
	echo "lint: cppcheck found the above"; status=1; }

echo "lint: clang-format"
unformatted=
for f in $(find limit account spool check pwdb spoolstat spoolwarn pam policy dovecot bench common fuzz examples tests/notouch tests/pam -name '*.c' -o -name '*.cc' -o -name '*.h' | sort); do
	clang-format --dry-run --Werror "$f" > /dev/null 2>&1 || unformatted="$unformatted $f"
done
if [ -n "$unformatted" ]; then
	echo "lint: not formatted as .clang-format says:$unformatted"
	if [ "${FORMAT:-}" = warn ]; then
		echo "lint: (FORMAT=warn: not counted as a failure)"
	else
		status=1
	fi
fi

[ $status = 0 ] && echo "lint: passed"
exit $status
