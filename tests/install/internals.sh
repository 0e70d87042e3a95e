#!/bin/sh
# SPDX-License-Identifier: ISC
# install.internals - the installed package hands its consumers boxquota.h
# and nothing internal. A program using what an internal header declares
# (rule.h first of all) does not compile with the flags pkg-config gives nor
# through find_package(boxquota), while the same program using boxquota.h
# builds and links both ways; and the exported target names no folder of the
# source or build tree.
. "$(dirname "$0")/lib.sh"

# header|an expression using what it declares; the first is the public one
cat >"$WORK/cases" <<'CASES'
boxquota.h|OverMailLimit(1, 2)
rule.h|limit::over(1, 1, 1, 2)
readconfig.h|limit::read_values(nullptr, nullptr)
boxquota_seam.h|(BoxquotaTestReset(nullptr), 0)
sitepaths.h|site::limit_file[0]
decimal.h|decimal::leading_int("1")
mailbox.h|mailbox::limit_size(1)
getpwent.h|account::getpwuid(0) != nullptr
CASES

# program NAME HEADER USE: a C++ program NAME.cc in WORK.
program()
{
	printf '#include "%s"\nint main() { return (%s) ? 0 : 1; }\n' "$2" "$3" >"$WORK/$1.cc"
}

# 1. With pkg-config's flags.
cflags=$(PKG_CONFIG_LIBDIR="$STAGE/lib/pkgconfig" pkg-config --cflags boxquota)
libs=$(PKG_CONFIG_LIBDIR="$STAGE/lib/pkgconfig" pkg-config --libs boxquota)
n=0
while IFS='|' read -r header use; do
	n=$((n + 1))
	program "use$n" "$header" "$use"
	# shellcheck disable=SC2086 # the flags are words
	if c++ -std=c++20 $cflags -o "$WORK/use$n" "$WORK/use$n.cc" $libs 2>"$WORK/use$n.err"; then
		[ "$n" = 1 ] || fail "pkg-config: $header is reachable: $use compiles"
	else
		[ "$n" != 1 ] || fail "pkg-config: the public header does not serve: $(cat "$WORK/use1.err")"
	fi
done <"$WORK/cases"
expect_contains "pkg-config: why rule.h fails" "rule.h" "$(cat "$WORK/use2.err")"

# 2. Through the CMake package: one target per case, built one by one.
mkdir -p "$WORK/cmake"
{
	echo 'cmake_minimum_required(VERSION 3.16)'
	echo 'project(consumer LANGUAGES C CXX)'
	echo 'find_package(boxquota REQUIRED)'
	echo 'set(CMAKE_CXX_STANDARD 20)'
	i=0
	while IFS='|' read -r header use; do
		i=$((i + 1))
		program "cmake/use$i" "$header" "$use"
		echo "add_executable(use$i use$i.cc)"
		echo "target_link_libraries(use$i PRIVATE boxquota::boxquota)"
	done <"$WORK/cases"
} >"$WORK/cmake/CMakeLists.txt"
cmake -S "$WORK/cmake" -B "$WORK/cmake-build" -G Ninja -DCMAKE_PREFIX_PATH="$STAGE" \
    -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF >"$WORK/cmake.log" 2>&1 ||
	fail "consumer project: $(cat "$WORK/cmake.log")"
i=0
while IFS='|' read -r header use; do
	i=$((i + 1))
	if cmake --build "$WORK/cmake-build" --target "use$i" >"$WORK/cmake-use$i.log" 2>&1; then
		[ "$i" = 1 ] || fail "CMake package: $header is reachable: $use compiles"
	else
		[ "$i" != 1 ] || fail "CMake package: the public header does not serve: $(cat "$WORK/cmake-use1.log")"
	fi
done <"$WORK/cases"
expect_contains "CMake package: why rule.h fails" "rule.h" "$(cat "$WORK/cmake-use2.log")"

# 3. The exported target points into the installation only.
targets=$(cat "$STAGE"/lib/cmake/boxquota/boxquotaTargets*.cmake)
expect_lacks "exported target" "$SRC/" "$targets"
expect_lacks "exported target" "$BUILD/" "$targets"
echo "boxquota.h serves; $((n - 1)) internal headers are out of reach"
