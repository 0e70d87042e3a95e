#!/bin/sh
# SPDX-License-Identifier: ISC
# run.sh JUDGE [PLUGIN] - the verdict's C entry (judge.c) in a private mount
# namespace whose /var/mail is a tmpfs: alice (uid 1001) with a mailbox of
# 3000 bytes, bob (uid 1002) with one owned by alice. Then, when built, the
# Dovecot module's shape: it exports exactly its four symbols and needs
# neither the C++ runtime nor an account lookup of its own.
set -u
judge=$1 plugin=${2-}
. "$(dirname "$0")/../skip.sh"
fail() { echo "FAIL: $*"; exit 1; }

if [ -n "$plugin" ]; then
	exports=$(nm -D --defined-only "$plugin" | awk 'NF == 3 { print $3 }' | sort | tr '\n' ' ')
	[ "$exports" = "boxquota_plugin_deinit boxquota_plugin_dependencies boxquota_plugin_init boxquota_plugin_version " ] ||
		fail "the module exports: $exports"
	needs=$(nm -D --undefined-only "$plugin" | grep -E ' _Z|@(GLIBCXX|CXXABI)_| getpw' || true)
	[ -z "$needs" ] || fail "the module needs: $needs"
	readelf -d "$plugin" | grep -q 'NEEDED.*stdc++' && fail "the module links libstdc++"
fi

need_namespace
unshare -m --propagation private sh -c '
	mount -t tmpfs -o mode=1777 tmpfs /var/mail || exit 2
	head -c 3000 /dev/zero >/var/mail/alice && chown 1001 /var/mail/alice
	head -c 9000 /dev/zero >/var/mail/bob && chown 1001 /var/mail/bob
	exec "$1"' sh "$(realpath "$judge")"
