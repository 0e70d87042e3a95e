#!/bin/sh
# SPDX-License-Identifier: ISC
# Builds and runs the whole test suite, stage by stage, each build in a
# folder of its own:
#   unit      build/          the unit and end-to-end tests, boxpolicy with
#                             the real Postfix and Exim (label servers; the
#                             servers come from scripts/setup.sh), the proof
#                             under strace that spoolnag writes nothing, and each
#                             benchmark once on the smallest size (no timing
#                             is judged; it only shows they still work)
#                             and the Debian packages (label package): built
#                             with dpkg-buildpackage, lintian --pedantic with
#                             no error or warning, and installed, upgraded,
#                             removed and purged in a disposable overlay root
#   clang     build-clang/    the whole tree, tests and benchmarks included,
#                             built with clang, and the unit tests run
#   lint      build-lint/     clang-tidy, cppcheck, clang-format (scripts/lint.sh)
#   asan      build-asan/     the same tests built with ASan and UBSan
#   memcheck  build-memcheck/ the unit and end-to-end tests under valgrind
#   fuzz      build-fuzz/     each fuzz target for FUZZ_SECONDS (default 60)
#   system    build-system/   the Debian packages installed with apt on Debian
#                             12 booted with systemd in a container, once
#                             with Postfix and once with Exim, and their
#                             autopkgtests (debian/tests) run there
#                             (tests/system/run.sh)
# Usage: sh scripts/test.sh [STAGE...]   (default: every stage, in that order)
#
# Every build treats warnings as errors (SPOOLNAG_WERROR), with g++ and with
# clang alike.
#
# Run as root so the end-to-end tests can use a private mount namespace;
# without root they are skipped (and fail when CI is set). Exit 0 when every
# stage passed; the time each took is listed at the end.
set -u
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
stages=${*:-unit clang lint asan memcheck fuzz system}
failed=
report=

stage_unit() {
	cmake -S . -B build -G Ninja -DSPOOLNAG_TESTS=ON -DSPOOLNAG_BENCH=ON -DSPOOLNAG_WERROR=ON &&
	cmake --build build -j "$jobs" &&
	sh bench/run.sh --quick &&
	ctest --test-dir build --output-on-failure -j "$jobs"
}

stage_clang() {
	CC=clang CXX=clang++ cmake -S . -B build-clang -G Ninja -DSPOOLNAG_TESTS=ON \
		-DSPOOLNAG_BENCH=ON -DSPOOLNAG_WERROR=ON &&
	cmake --build build-clang -j "$jobs" &&
	ctest --test-dir build-clang --output-on-failure -j "$jobs" -L unit
}

stage_lint() {
	sh scripts/lint.sh
}

stage_asan() {
	cmake -S . -B build-asan -G Ninja -DSPOOLNAG_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DSPOOLNAG_TESTS=ON -DSPOOLNAG_WERROR=ON &&
	cmake --build build-asan -j "$jobs" &&
	ctest --test-dir build-asan --output-on-failure -j "$jobs"
}

stage_memcheck() {
	wrapper=$PWD/tests/memcheck/valgrind.sh
	# valgrind sees the allocations of a static program's own malloc only
	# as one heap, so spoolnag is linked dynamically here.
	cmake -S . -B build-memcheck -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DSPOOLNAG_TESTS=ON -DSPOOLNAG_STATIC=OFF -DSPOOLNAG_WERROR=ON &&
	cmake --build build-memcheck -j "$jobs" || return 1
	echo "memcheck: unit tests"
	ctest --test-dir build-memcheck -T memcheck -L unit -j "$jobs" --output-on-failure \
		--overwrite "MemoryCheckCommand=$(command -v valgrind)" \
		--overwrite "MemoryCheckCommandOptions=$(sh "$wrapper" --options)" || return 1
	echo "memcheck: end-to-end tests"
	SPOOLNAG_WRAPPER=$wrapper PWDB_WRAPPER=$wrapper \
		ctest --test-dir build-memcheck -L e2e -j "$jobs" --output-on-failure
}

stage_fuzz() {
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DSPOOLNAG_FUZZ=ON \
		-DCMAKE_BUILD_TYPE=RelWithDebInfo -DSPOOLNAG_TESTS=OFF -DSPOOLNAG_WERROR=ON &&
	cmake --build build-fuzz -j "$jobs" || return 1
	ok=0
	for target in boxquota flatfile pwrecord request netstring; do
		mkdir -p "build-fuzz/corpus/$target" build-fuzz/findings
		log=build-fuzz/fuzz-$target.log
		# New inputs go to build-fuzz/corpus/; the seeds stay as they are.
		if "build-fuzz/fuzz/fuzz_$target" -max_total_time="${FUZZ_SECONDS:-60}" \
			-timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
			-artifact_prefix="build-fuzz/findings/$target-" \
			"build-fuzz/corpus/$target" "fuzz/corpus/$target" > "$log" 2>&1; then
			runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
			echo "fuzz: $target: $runs inputs, no finding"
		else
			tail -n 60 "$log"
			echo "fuzz: $target: FINDING; the input is in build-fuzz/findings/"
			ok=1
		fi
	done
	return $ok
}

stage_system() {
	if [ "$(id -u)" != 0 ] || ! command -v systemd-nspawn > /dev/null; then
		echo "system: needs root and systemd-nspawn (sh scripts/setup.sh installs it)"
		[ -z "${CI:-}" ]
		return
	fi
	sh tests/system/run.sh
}

for stage in $stages; do
	case $stage in
	unit|clang|lint|asan|memcheck|fuzz|system) ;;
	*) echo "test: unknown stage $stage (unit clang lint asan memcheck fuzz system)"; exit 64 ;;
	esac
	echo "=== test: $stage"
	start=$(date +%s)
	if "stage_$stage"; then result=passed; else result=FAILED; failed="$failed $stage"; fi
	took=$(( $(date +%s) - start ))
	report="$report
	$stage: $result in ${took}s"
	echo "=== test: $stage $result in ${took}s"
done

echo "test: stages:$report"
nfailed=$(echo $failed | wc -w)
nstages=$(echo $stages | wc -w)
echo "stages: $((nstages - nfailed)) passed, $nfailed failed"
if [ -n "$failed" ]; then
	echo "test: FAILED:$failed"
	exit 1
fi
echo "test: all stages passed"
