#!/bin/sh
# SPDX-License-Identifier: ISC
# install.cmake-package - find_package(boxquota) from the installed tree: the
# installed example (a C-only project) builds and links with the C driver;
# so does a C program in a project that also enables C++; the version file
# refuses an incompatible version.
. "$(dirname "$0")/lib.sh"

# The compiler driver of the link step of target boxcheck in build dir $1.
link_driver()
{
	(cd "$1" && ninja -t commands boxcheck) | tail -n 1 |
	    sed -e 's/^: && //' | awk '{ print $1 }'
}

configure()
{
	cmake -S "$1" -B "$2" -G Ninja -DCMAKE_PREFIX_PATH="$STAGE" \
	    -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF "$@" >"$2.log" 2>&1
}

# 1. The installed example, as shipped: project(boxcheck LANGUAGES C).
examples=$STAGE/share/doc/spoolnag/examples
configure "$examples" "$WORK/c-only" || fail "C-only project: $(cat "$WORK/c-only.log")"
expect_eq "package found" "$STAGE/lib/cmake/boxquota" \
    "$(sed -n 's/^boxquota_DIR:PATH=//p' "$WORK/c-only/CMakeCache.txt")"
cmake --build "$WORK/c-only" >"$WORK/c-only-build.log" 2>&1 ||
	fail "C-only build: $(cat "$WORK/c-only-build.log")"
c_compiler=$(sed -n 's/^CMAKE_C_COMPILER:[A-Z]*=//p' "$WORK/c-only/CMakeCache.txt")
expect_eq "link driver, C-only project" "$c_compiler" "$(link_driver "$WORK/c-only")"

# 2. A project with C++ enabled must still link the C program as C.
mkdir -p "$WORK/mixed"
cp "$examples/boxcheck.c" "$WORK/mixed/"
cat >"$WORK/mixed/CMakeLists.txt" <<'CM'
cmake_minimum_required(VERSION 3.16)
project(mixed LANGUAGES C CXX)
find_package(boxquota ${WANT} REQUIRED)
add_executable(boxcheck boxcheck.c)
target_link_libraries(boxcheck PRIVATE boxquota::boxquota)
CM
configure "$WORK/mixed" "$WORK/mixed-build" -DWANT=0.1 ||
	fail "C and C++ project: $(cat "$WORK/mixed-build.log")"
cmake --build "$WORK/mixed-build" >"$WORK/mixed-build2.log" 2>&1 ||
	fail "C and C++ build: $(cat "$WORK/mixed-build2.log")"
c_compiler=$(sed -n 's/^CMAKE_C_COMPILER:[A-Z]*=//p' "$WORK/mixed-build/CMakeCache.txt")
expect_eq "link driver, C and C++ project" "$c_compiler" "$(link_driver "$WORK/mixed-build")"
needed=$(readelf -d "$WORK/mixed-build/boxcheck" | grep NEEDED || true)
expect_lacks "libraries the example needs" "libstdc++" "$needed"

# 3. The version file: a later major version is not this package.
if configure "$WORK/mixed" "$WORK/too-new" -DWANT=1.0; then
	fail "find_package(boxquota 1.0) accepted a 0.x package"
fi
expect_contains "version refusal" "compatible with requested version" "$(cat "$WORK/too-new.log")"
echo "found and linked boxquota::boxquota from $STAGE"
