#!/bin/sh
# SPDX-License-Identifier: ISC
# install.destdir - a staged installation for prefix /usr, as a package build
# makes it: everything lands under DESTDIR, the login hook in etc/profile.d
# (sysconfdir /etc for /usr), the configured files name the final /usr
# paths, and the staged library builds a C program with pkg-config's sysroot.
. "$(dirname "$0")/lib.sh"

root=$WORK/root
DESTDIR=$root cmake --install "$BUILD" --prefix /usr >"$WORK/install.log" ||
	fail "cmake --install failed: $(cat "$WORK/install.log")"

# Every file is under DESTDIR, in /usr, or /etc for the login hook and the
# letter's template.
stray=$(cd "$root" && find . -type f |
	grep -Ev '^\./usr/|^\./etc/profile\.d/spoolnag\.sh$|^\./etc/spoolwarn/letter$' || true)
expect_eq "files outside /usr" "" "$stray"
[ -f "$root/etc/profile.d/spoolnag.sh" ] || fail "login hook not in /etc/profile.d"
[ ! -e "$root/usr/etc" ] || fail "login hook went to /usr/etc"
# The manifest lists the final paths; each of them was written under DESTDIR.
while read -r f; do
	[ -f "$root$f" ] || fail "not staged under DESTDIR: $f"
done <"$BUILD/install_manifest.txt"

expect_contains "login hook" "'/usr/bin/spoolnag'" "$(cat "$root/etc/profile.d/spoolnag.sh")"
expect_contains "spoolwarn.service" "ExecStart=/usr/sbin/spoolwarn" \
	"$(cat "$root/usr/lib/systemd/system/spoolwarn.service")"
pcdir=$(dirname "$(find "$root" -name boxquota.pc)")
expect_eq "pc prefix" /usr "$(PKG_CONFIG_LIBDIR=$pcdir pkg-config --variable=prefix boxquota)"

# Build against the staged tree, as a package build's later steps would.
flags=$(PKG_CONFIG_LIBDIR=$pcdir PKG_CONFIG_SYSROOT_DIR=$root pkg-config --cflags --libs boxquota)
cc -std=c11 -o "$WORK/boxcheck" "$root/usr/share/doc/spoolnag/examples/boxcheck.c" $flags ||
	fail "cannot build the example against the staged tree ($flags)"
echo "staged under $root"
