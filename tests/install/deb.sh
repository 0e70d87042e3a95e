#!/bin/sh
# SPDX-License-Identifier: ISC
# install.deb - cpack -G DEB from this build: the files at their Debian
# places, the control fields (dependencies from dpkg-shlibdeps, section,
# maintainer, no homepage), the login hook as a conffile, and the packaged
# configured files naming /usr. The archive survives stripping.
. "$(dirname "$0")/lib.sh"

command -v dpkg-deb >/dev/null || skip "dpkg-deb is missing"
command -v dpkg-shlibdeps >/dev/null || skip "dpkg-shlibdeps (dpkg-dev) is missing"
cpack -G DEB --config "$BUILD/CPackConfig.cmake" -B "$WORK/out" >"$WORK/cpack.log" 2>&1 ||
	fail "cpack failed: $(cat "$WORK/cpack.log")"
deb=$(ls "$WORK"/out/*.deb)
arch=$(dpkg --print-architecture)
expect_eq "package file" "$WORK/out/spoolnag_${VERSION}-1_$arch.deb" "$deb"

# Contents: every file at its place, nothing else outside /usr and the hook.
files=$(dpkg-deb -c "$deb" | awk '$6 !~ /\/$/ { print $6 }' | sort)
lib='usr/lib(/[a-z0-9_]+-linux-[a-z0-9_]+)?'
for want in 'usr/bin/spoolnag' "$lib/libboxquota\\.a" 'usr/include/boxquota\.h' \
    'usr/share/man/man1/spoolnag\.1\.gz' 'usr/share/man/man3/boxquota\.3\.gz' \
    'usr/share/man/man5/boxquota\.5\.gz' 'etc/profile\.d/spoolnag\.sh' \
    "$lib/pkgconfig/boxquota\\.pc" "$lib/cmake/boxquota/boxquotaConfig\\.cmake" \
    "$lib/cmake/boxquota/boxquotaConfigVersion\\.cmake" \
    'usr/share/doc/spoolnag/examples/boxcheck\.c' 'usr/share/doc/spoolnag/copyright'; do
	echo "$files" | grep -Eqx "\./$want" || fail "not in the package: $want
$files"
done
if [ "$HAVE_PAM" = 1 ]; then
	for want in "$lib/security/pam_spoolnag\\.so" 'usr/share/pam-configs/spoolnag' \
	    'usr/share/man/man8/pam_spoolnag\.8\.gz'; do
		echo "$files" | grep -Eqx "\./$want" || fail "not in the package: $want"
	done
fi
if [ "$HAVE_PWDB" = 1 ]; then
	echo "$files" | grep -qx './usr/sbin/pwdb' || fail "pwdb not in the package"
	echo "$files" | grep -qx './usr/share/man/man8/pwdb.8.gz' || fail "pwdb.8 not in the package"
fi
stray=$(echo "$files" | grep -Ev '^\./usr/|^\./etc/profile\.d/spoolnag\.sh$' || true)
expect_eq "files outside /usr" "" "$stray"
expect_lacks "package contents" "$BUILD" "$files"
expect_lacks "package contents" "/usr/local" "$files"

# Control fields.
field() { dpkg-deb -f "$deb" "$1"; }
expect_eq Package spoolnag "$(field Package)"
expect_eq Version "${VERSION}-1" "$(field Version)"
expect_eq Architecture "$arch" "$(field Architecture)"
expect_eq Section mail "$(field Section)"
expect_eq Priority optional "$(field Priority)"
expect_eq Homepage "" "$(field Homepage)"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
expect_contains Depends "libc6 (>=" "$(field Depends)"
if [ "$HAVE_PWDB" = 1 ]; then
	expect_contains Depends "libgdbm-compat" "$(field Depends)"
fi
expect_contains Description "over the site's size limit" "$(field Description)"
long=$(field Description | awk 'length > 80')
expect_eq "Description lines over 80 columns" "" "$long"

info=$(dpkg-deb -I "$deb")
expect_contains "dpkg-deb -I" "conffiles" "$info"
dpkg-deb -e "$deb" "$WORK/control"
expect_eq conffiles /etc/profile.d/spoolnag.sh "$(cat "$WORK/control/conffiles")"
if [ "$HAVE_PAM" = 1 ]; then
	[ -x "$WORK/control/prerm" ] || fail "no executable prerm"
	expect_contains prerm "pam-auth-update --package --remove spoolnag" "$(cat "$WORK/control/prerm")"
fi

# What was configured at install time names the packaged paths.
dpkg-deb -x "$deb" "$WORK/root"
expect_contains "packaged hook" "'/usr/bin/spoolnag'" "$(cat "$WORK/root/etc/profile.d/spoolnag.sh")"
pc=$(find "$WORK/root" -name boxquota.pc)
expect_eq "packaged pc prefix" /usr "$(PKG_CONFIG_LIBDIR=$(dirname "$pc") pkg-config --variable=prefix boxquota)"
a=$(find "$WORK/root" -name libboxquota.a)
expect_eq "packaged archive symbols" "MailLimit
MinLimitUid
OverMailLimit" "$(archive_exports "$a")"
echo "built $deb"
