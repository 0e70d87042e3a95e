#!/bin/sh
# SPDX-License-Identifier: ISC
# shape.sh MODULE - pam_spoolnag.so as the applications that load it need
# it: it exports exactly pam_sm_open_session and pam_sm_close_session, and
# needs no C++ runtime (no libstdc++, no libgcc_s, no C++ symbol).
set -u
module=$1
fail() { echo "FAIL: $*"; exit 1; }

exports=$(nm -D --defined-only "$module" | awk 'NF == 3 { print $3 }' | sort | tr '\n' ' ')
[ "$exports" = "pam_sm_close_session pam_sm_open_session " ] || fail "exports: $exports"
needed=$(readelf -d "$module" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')
case $needed in
*stdc++* | *libgcc_s*) fail "needs the C++ runtime: $needed" ;;
*libpam.so*) ;;
*) fail "does not name libpam: $needed" ;;
esac
cxx=$(nm -D --undefined-only "$module" | grep -E ' _Z|@(GLIBCXX|CXXABI|GCC)_' || true)
[ -z "$cxx" ] || fail "needs C++ runtime symbols: $cxx"
echo "ok: exports $exports; needs $needed"
