#!/bin/sh
# SPDX-License-Identifier: ISC
# install.deb - the Debian packages built from debian/ (scripts/debs.sh):
# each file in the package it belongs to and nowhere else, the control
# fields (dependencies from dpkg-shlibdeps, a real maintainer), the
# copyright and changelog of each, the maintainer scripts, spoolnag
# dynamic and hardened without the C++ runtime, and lintian --pedantic
# without an error or a warning. Leaves the packages in $DEBS for
# install.deb-cycle.
. "$(dirname "$0")/lib.sh"

for tool in dpkg-buildpackage dh lintian readelf; do
	command -v $tool >/dev/null || skip "$tool is missing (scripts/setup.sh installs it)"
done
sh "$SRC/scripts/debs.sh" "$WORK/out" >/dev/null || fail "the package build failed"
rm -rf "$DEBS"
mkdir -p "$DEBS"
cp "$WORK"/out/*.deb "$DEBS"/
arch=$(dpkg --print-architecture)
# The Debian version: the project's, then the Debian revision.
deb_version=$(dpkg-parsechangelog -l "$SRC/debian/changelog" -S Version)
expect_eq "upstream part of $deb_version" "$VERSION" "${deb_version%-*}"
VERSION=$deb_version
expect_eq "packages" "dovecot-boxquota_${VERSION}_$arch.deb
libboxquota-dev_${VERSION}_$arch.deb
libpam-spoolnag_${VERSION}_$arch.deb
spoolnag_${VERSION}_$arch.deb" "$(cd "$DEBS" && ls)"

# contents PACKAGE: its files (not folders), one a line, sorted.
contents() { dpkg-deb -c "$DEBS/$1_${VERSION}_$arch.deb" | awk '$6 !~ /\/$/ { print $6 }' | sort; }
lib=usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)
while read -r package files; do
	want=$(for f in $files usr/share/doc/$package/copyright \
	    usr/share/doc/$package/changelog.Debian.gz; do echo "./$f"; done | sort)
	[ "$package" != libpam-spoolnag ] ||
		want=$(printf '%s\n' "$want" ./usr/share/lintian/overrides/libpam-spoolnag | sort)
	expect_eq "$package: files" "$want" "$(contents "$package")"
	dpkg-deb -x "$DEBS/$package"_*.deb "$WORK/root"
	cmp -s "$WORK/root/usr/share/doc/$package/copyright" "$SRC/debian/copyright" ||
		fail "$package: copyright is not debian/copyright"
	field() { dpkg-deb -f "$DEBS/$package"_*.deb "$1"; }
	expect_eq "$package: Maintainer" "spoolnag maintainers <maintainers@spoolnag.org>" "$(field Maintainer)"
	expect_eq "$package: Version" "$VERSION" "$(field Version)"
done <<LIST
spoolnag etc/profile.d/spoolnag.sh etc/spoolwarn/letter usr/bin/spoolnag usr/sbin/pwdb usr/sbin/spoolstat usr/sbin/boxpolicy usr/sbin/spoolwarn usr/share/man/man1/spoolnag.1.gz usr/share/man/man5/boxquota.5.gz usr/share/man/man8/pwdb.8.gz usr/share/man/man8/spoolstat.8.gz usr/share/man/man8/boxpolicy.8.gz usr/share/man/man8/spoolwarn.8.gz usr/share/doc/spoolnag/examples/exim4-boxpolicy.acl usr/share/doc/spoolnag/examples/exim4-boxpolicy.router lib/systemd/system/boxpolicy.socket lib/systemd/system/boxpolicy@.service lib/systemd/system/pwdb.path lib/systemd/system/pwdb.service lib/systemd/system/spoolwarn.service lib/systemd/system/spoolwarn.timer
libboxquota-dev $lib/libboxquota.a $lib/pkgconfig/boxquota.pc $lib/cmake/boxquota/boxquotaConfig.cmake $lib/cmake/boxquota/boxquotaConfigVersion.cmake $lib/cmake/boxquota/boxquotaTargets.cmake $lib/cmake/boxquota/boxquotaTargets-none.cmake usr/include/boxquota.h usr/share/man/man3/boxquota.3.gz usr/share/doc/libboxquota-dev/examples/boxcheck.c usr/share/doc/libboxquota-dev/examples/CMakeLists.txt
libpam-spoolnag $lib/security/pam_spoolnag.so usr/share/pam-configs/spoolnag usr/share/man/man8/pam_spoolnag.8.gz
dovecot-boxquota usr/lib/dovecot/modules/lib11_boxquota_plugin.so usr/share/dovecot-boxquota/90-boxquota.conf usr/share/man/man7/dovecot-boxquota.7.gz
LIST
zcat "$WORK/root/usr/share/doc/spoolnag/changelog.Debian.gz" | head -n 1 | grep -q "^spoolnag ($VERSION)" ||
	fail "changelog.Debian.gz does not begin with this version"

# Dependencies from dpkg-shlibdeps: spoolnag's programs need the ndbm
# libraries; libpam-spoolnag needs pam-auth-update.
deps=$(dpkg-deb -f "$DEBS/spoolnag_${VERSION}_$arch.deb" Depends)
expect_contains "spoolnag: Depends" "libgdbm-compat4 (>=" "$deps"
expect_contains "libpam-spoolnag: Depends" "libpam-runtime" \
	"$(dpkg-deb -f "$DEBS/libpam-spoolnag_${VERSION}_$arch.deb" Depends)"
dpkg-deb -e "$DEBS/libpam-spoolnag_${VERSION}_$arch.deb" "$WORK/pam-control"
expect_contains "libpam-spoolnag postinst" "pam-auth-update --package" "$(cat "$WORK/pam-control/postinst")"
expect_contains "libpam-spoolnag prerm" "pam-auth-update --package --remove spoolnag" \
	"$(cat "$WORK/pam-control/prerm")"
# dovecot-boxquota: the Dovecot ABI of dovecot-dev, and nothing done on
# installation (no maintainer script, no file in /etc) until the
# administrator copies the configuration file.
expect_contains "dovecot-boxquota: Depends" "dovecot-abi-$(cat /usr/share/dovecot/dovecot-abi)" \
	"$(dpkg-deb -f "$DEBS/dovecot-boxquota_${VERSION}_$arch.deb" Depends)"
dpkg-deb -e "$DEBS/dovecot-boxquota_${VERSION}_$arch.deb" "$WORK/dovecot-control"
expect_eq "dovecot-boxquota: control files" "control
md5sums" "$(ls "$WORK/dovecot-control")"
dpkg-deb -e "$DEBS/spoolnag_${VERSION}_$arch.deb" "$WORK/control"
expect_eq conffiles "/etc/profile.d/spoolnag.sh
/etc/spoolwarn/letter" "$(sort "$WORK/control/conffiles")"
expect_contains "spoolnag postinst" "deb-systemd-helper enable 'pwdb.path'" "$(cat "$WORK/control/postinst")"
expect_contains "spoolnag postinst" "deb-systemd-helper enable 'spoolwarn.timer'" "$(cat "$WORK/control/postinst")"
expect_contains "spoolnag postrm" "rm -rf /var/lib/spoolwarn /var/lib/private/spoolwarn" "$(cat "$WORK/control/postrm")"
expect_contains "packaged service" "ExecStart=/usr/sbin/spoolwarn" "$(cat "$WORK/root/lib/systemd/system/spoolwarn.service")"
expect_contains "packaged hook" "'/usr/bin/spoolnag'" "$(cat "$WORK/root/etc/profile.d/spoolnag.sh")"

# spoolnag: a dynamic PIE with full RELRO and no C++ runtime; every program
# and the module hardened (lintian below checks fortify and the rest).
for f in usr/bin/spoolnag usr/sbin/pwdb usr/sbin/spoolstat usr/sbin/boxpolicy usr/sbin/spoolwarn \
    "$lib/security/pam_spoolnag.so" usr/lib/dovecot/modules/lib11_boxquota_plugin.so; do
	elf=$(readelf -dlW "$WORK/root/$f")
	expect_contains "$f: RELRO" GNU_RELRO "$elf"
	expect_contains "$f: BIND_NOW" BIND_NOW "$elf"
done
dyn=$(readelf -dW "$WORK/root/usr/bin/spoolnag")
expect_contains "spoolnag: PIE" "PIE" "$dyn"
expect_contains "spoolnag: dynamic" "NEEDED" "$dyn"
expect_lacks "spoolnag: C++ runtime" "libstdc++" "$dyn"
expect_lacks "spoolnag: C++ runtime" "libgcc_s" "$dyn"

# lintian: no error and no warning; information and pedantic tags are shown.
lintian --pedantic --display-info --tag-display-limit 0 "$DEBS"/*.deb > "$WORK/lintian.log" 2>&1 ||
	true
cat "$WORK/lintian.log"
grep -Eq '^(E|W): ' "$WORK/lintian.log" && fail "lintian reports errors or warnings"
grep -Eq '^[IPXO]: |^$|not recommended' "$WORK/lintian.log" || [ ! -s "$WORK/lintian.log" ] ||
	fail "lintian did not run: $(cat "$WORK/lintian.log")"
echo "built and checked: $(cd "$DEBS" && echo *.deb)"
