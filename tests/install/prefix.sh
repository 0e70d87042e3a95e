#!/bin/sh
# SPDX-License-Identifier: ISC
# install.prefix - cmake --install into a temporary prefix: every installed
# file in its place, nothing internal installed, the configured files naming
# that prefix, and an archive that a C program can link. Leaves the
# installation in $STAGE for the tests that build against it.
. "$(dirname "$0")/lib.sh"

rm -rf "$STAGE"
cmake --install "$BUILD" --prefix "$STAGE" >"$WORK/install.log" ||
	fail "cmake --install failed: $(cat "$WORK/install.log")"

for f in bin/spoolnag lib/libboxquota.a include/boxquota.h \
    share/man/man1/spoolnag.1.gz share/man/man3/boxquota.3.gz \
    share/man/man5/boxquota.5.gz etc/profile.d/spoolnag.sh \
    lib/pkgconfig/boxquota.pc lib/cmake/boxquota/boxquotaConfig.cmake \
    lib/cmake/boxquota/boxquotaConfigVersion.cmake \
    lib/cmake/boxquota/boxquotaTargets.cmake \
    share/doc/spoolnag/examples/boxcheck.c \
    share/doc/spoolnag/examples/CMakeLists.txt share/doc/spoolnag/copyright \
    sbin/boxpolicy share/man/man8/boxpolicy.8.gz \
    lib/systemd/system/boxpolicy.socket lib/systemd/system/boxpolicy@.service \
    lib/systemd/system/pwdb.path lib/systemd/system/pwdb.service \
    sbin/pwdb sbin/spoolstat share/man/man8/spoolstat.8.gz \
    sbin/spoolwarn share/man/man8/spoolwarn.8.gz etc/spoolwarn/letter \
    lib/systemd/system/spoolwarn.service lib/systemd/system/spoolwarn.timer \
    share/doc/spoolnag/examples/exim4-boxpolicy.acl \
    share/doc/spoolnag/examples/exim4-boxpolicy.router; do
	[ -f "$STAGE/$f" ] || fail "not installed: $f"
done
cmp -s "$STAGE/share/doc/spoolnag/copyright" "$SRC/LICENSE" ||
	fail "share/doc/spoolnag/copyright is not the licence"
[ -x "$STAGE/bin/spoolnag" ] || fail "bin/spoolnag is not executable"
if [ "$HAVE_PAM" = 1 ]; then
	for f in lib/security/pam_spoolnag.so share/pam-configs/spoolnag \
	    share/man/man8/pam_spoolnag.8.gz; do
		[ -f "$STAGE/$f" ] || fail "not installed: $f"
	done
fi
if [ "$HAVE_DOVECOT" = 1 ]; then
	for f in lib/dovecot/modules/lib11_boxquota_plugin.so \
	    share/dovecot-boxquota/90-boxquota.conf share/man/man7/dovecot-boxquota.7.gz; do
		[ -f "$STAGE/$f" ] || fail "not installed: $f"
	done
fi
if [ "$HAVE_PWDB" = 1 ]; then
	[ -x "$STAGE/sbin/pwdb" ] || fail "pwdb is built but not installed in sbin"
	[ -f "$STAGE/share/man/man8/pwdb.8.gz" ] || fail "pwdb.8 not installed"
fi

# Internal headers and libraries stay in the build.
leaked=$(find "$STAGE" \( -name rule.h -o -name boxquota_seam.h -o -name readconfig.h \
    -o -name 'libaccount*' -o -name 'libmailbox*' -o -name getpwent.h \
    -o -name 'libspool*' -o -name sitepaths.h -o -name mailbox.h -o -name decimal.h \
    -o -name 'libboxquota_seam*' \) -print)
expect_eq "internal files installed" "" "$leaked"

# The manual pages are the sources, compressed.
for page in check/spoolnag.1 limit/boxquota.3 limit/boxquota.5 policy/boxpolicy.8; do
	name=${page#*/}
	gzip -dc "$STAGE/share/man/man${name##*.}/$name.gz" | cmp -s - "$SRC/$page" ||
		fail "installed $name differs from $page"
done

# Configured at install time: they name this prefix, not the configured one.
pc=$(PKG_CONFIG_LIBDIR="$STAGE/lib/pkgconfig" pkg-config --cflags --libs boxquota)
pc=$(echo $pc)
expect_eq "pkg-config flags" "-I$STAGE/include -L$STAGE/lib -lboxquota" "$pc"
unit=$(cat "$STAGE/lib/systemd/system/boxpolicy@.service")
expect_contains "boxpolicy@.service" "ExecStart=$STAGE/sbin/boxpolicy" "$unit"
expect_lacks "boxpolicy@.service" "@CMAKE" "$unit"
unit=$(cat "$STAGE/lib/systemd/system/spoolwarn.service")
expect_contains "spoolwarn.service" "ExecStart=$STAGE/sbin/spoolwarn" "$unit"
expect_lacks "spoolwarn.service" "@CMAKE" "$unit"
# The template is installed as written: its placeholders are spoolwarn's.
cmp -s "$STAGE/etc/spoolwarn/letter" "$SRC/spoolwarn/letter" ||
	fail "installed etc/spoolwarn/letter differs from spoolwarn/letter"
# The Exim examples are the files the server test includes.
for f in exim4-boxpolicy.acl exim4-boxpolicy.router; do
	cmp -s "$STAGE/share/doc/spoolnag/examples/$f" "$SRC/policy/$f" ||
		fail "installed $f differs from policy/$f"
done
hook=$(cat "$STAGE/etc/profile.d/spoolnag.sh")
expect_contains "login hook" "'$STAGE/bin/spoolnag'" "$hook"
expect_lacks "login hook" "@" "$hook"

# Exactly the three functions, and nothing of the C++ runtime behind them.
expect_eq "exported symbols" "MailLimit
MinLimitUid
OverMailLimit" "$(archive_exports "$STAGE/lib/libboxquota.a")"
cxx=$(nm -u "$STAGE/lib/libboxquota.a" | grep -E '_Z|__cxa|__gxx|_Unwind' || true)
expect_eq "C++ runtime symbols needed by libboxquota.a" "" "$cxx"
echo "installed into $STAGE"
