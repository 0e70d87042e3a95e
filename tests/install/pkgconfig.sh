#!/bin/sh
# SPDX-License-Identifier: ISC
# install.pkgconfig - the delivery-side example and a C++ caller build from
# the installed tree with nothing but the flags pkg-config gives, and link no
# C++ runtime.
. "$(dirname "$0")/lib.sh"

export PKG_CONFIG_LIBDIR="$STAGE/lib/pkgconfig"
flags=$(pkg-config --cflags --libs boxquota)
# A static-only library: everything a consumer needs stands in Libs.
expect_eq "pkg-config --static" "$flags" "$(pkg-config --static --cflags --libs boxquota)"

example=$STAGE/share/doc/spoolnag/examples/boxcheck.c
for std in c99 c11; do
	cc -std=$std -pedantic -Wall -Wextra -Werror -o "$WORK/boxcheck-$std" \
	    "$example" $flags || fail "example does not build as $std: cc ... $flags"
done
needed=$(readelf -d "$WORK/boxcheck-c11" | grep NEEDED || true)
expect_lacks "libraries the example needs" "libstdc++" "$needed"

# Runs, and answers bad usage as documented.
status=0
"$WORK/boxcheck-c11" 2>"$WORK/err" || status=$?
expect_eq "boxcheck without arguments" 64 "$status"
expect_contains "usage message" "usage: boxcheck LOGIN SIZE" "$(cat "$WORK/err")"

# The header serves C++ callers too (C linkage of the three functions).
cat >"$WORK/caller.cc" <<'CC'
#include <boxquota.h>
int main() { return MailLimit() < 0 && MinLimitUid() < 0 && OverMailLimit(0, 0); }
CC
c++ -std=c++17 -Wall -Werror -o "$WORK/caller" "$WORK/caller.cc" $flags ||
	fail "a C++ caller does not link against the installed library"
echo "built with: $flags"
