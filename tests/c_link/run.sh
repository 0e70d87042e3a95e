#!/bin/sh
# SPDX-License-Identifier: ISC
# run.sh CC LIBBOXQUOTA INCLUDEDIR SPOOLNAG [CFLAGS] - proves libboxquota.a
# is a C library: it exports exactly its three functions, needs nothing from
# the C++ runtime, links into a C program built by the C compiler alone, and
# answers from /var/mail/.boxquota (checked in a private mount namespace when
# root). Also checks that spoolnag takes no account lookup from the C library.
#
# CFLAGS are the sanitizer flags of a checked build (empty otherwise): the
# instrumented library then needs the sanitizer runtimes, so the C program is
# linked with the same flags, and the libstdc++ check, which the sanitizer
# runtimes would trip, is left to the plain build.
set -u
cc=$1 lib=$2 inc=$3 spoolnag=$4 cflags=${5:-}
here=$(dirname "$0")
fail() { echo "FAIL: $*"; exit 1; }

exports=$(nm -g --defined-only "$lib" | awk 'NF == 3 { print $3 }' | sort | tr '\n' ' ')
[ "$exports" = "MailLimit MinLimitUid OverMailLimit " ] || fail "exports: $exports"
undefined=$(nm -u "$lib" | awk 'NF == 2 { print $2 }' | grep -E '^_Z|__cxa|__gxx|_Unwind' )
[ -z "$undefined" ] || fail "needs the C++ runtime: $undefined"
# Undefined (taken from the shared C library) or, in a static spoolnag,
# linked in from the C library's archive.
lookups=$(nm "$spoolnag" | grep -E ' [UTtWw] (getpwuid|getpwnam|getpwent|setpwent|endpwent)(@|$)')
[ -z "$lookups" ] || fail "spoolnag takes lookups from the C library: $lookups"

tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT
# -nostdlib++ is not needed: a C compiler driver links no C++ runtime.
# shellcheck disable=SC2086 # the flags are split on purpose
"$cc" -std=c99 -Wall -Wextra -Werror $cflags -I"$inc" "$here/uses_boxquota.c" "$lib" \
	-o "$tmp/uses_boxquota" || fail "C link"
if [ -z "$cflags" ] && objdump -p "$tmp/uses_boxquota" | grep -q 'NEEDED.*stdc++'; then
	fail "the C program needs libstdc++"
fi

if [ "$(id -u)" != 0 ] || ! unshare -m --propagation private true 2>/dev/null; then
	if [ -n "${CI:-}" ]; then fail "CI needs root and a mount namespace"; fi
	echo "SKIP: the run against /var/mail/.boxquota needs root"; exit 77
fi
chmod 755 "$tmp"
mkdir "$tmp/mail"
printf '# test limit\n100\n500000\n' > "$tmp/mail/.boxquota"
chmod -R a+rX "$tmp/mail"
got=$(unshare -m --propagation private sh -c '
	mount --bind "$1/mail" /var/mail || exit 99
	for q in "99 1000000000" "100 500000" "100 500001"; do
		setpriv --reuid=1000 --regid=1000 --clear-groups "$1/uses_boxquota" $q
	done' sh "$tmp")
want='100 500000 0
100 500000 0
100 500000 1'
[ "$got" = "$want" ] || fail "answers: $got"
echo ok
