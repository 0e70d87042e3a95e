#!/bin/sh
# SPDX-License-Identifier: ISC
# install.deb-cycle - the packages of install.deb through an administrator's
# cycle, in a disposable root: an overlay of / with a tmpfs upper layer, in
# a private mount namespace, entered with chroot, with a policy-rc.d that
# lets no service start. Installs an older build (the same packages with a
# lower version), upgrades it with apt-get install ./*.deb, checks files,
# manual pages, the PAM profile, the path unit and the timer, one warning
# letter from the installed template and the warning, then apt-get remove
# (only the conffiles stay; a login with the hook left behind still works)
# and apt-get purge (nothing stays, the hashed password database that pwdb
# made and spoolwarn's state included). Offline: every dependency is already
# installed here. The host's dpkg database is checked unchanged afterwards.
# dovecot-boxquota stays out: it needs dovecot-core, never installed here
# (install.deb checks that it has no maintainer script and no file in /etc).
. "$(dirname "$0")/lib.sh"
need_root_namespace
command -v apt-get >/dev/null || skip "apt-get is missing"
ls "$DEBS"/*.deb >/dev/null 2>&1 || fail "no packages in $DEBS (install.deb makes them)"

# The older build: each package again with version 0.0.1.
mkdir -p "$WORK/debs/new" "$WORK/debs/old"
cp "$DEBS"/*.deb "$WORK/debs/new/"
rm -f "$WORK/debs/new/"dovecot-boxquota_*.deb
for deb in "$WORK/debs/new/"*.deb; do
	dir=$WORK/unpacked/$(basename "$deb" .deb)
	mkdir -p "$WORK/unpacked"
	dpkg-deb -R "$deb" "$dir"
	# Their Breaks of spoolnag (<< 0.1.0-2) are about the cpack package
	# and would break the old build itself.
	sed -i 's/^Version: .*/Version: 0.0.1/; /^Breaks:/d; /^Replaces:/d' "$dir/DEBIAN/control"
	dpkg-deb --root-owner-group -b "$dir" "$WORK/debs/old/" >/dev/null
done
chmod -R a+rX "$WORK/debs"
status_before=$(cksum < /var/lib/dpkg/status)
VERSION=$(dpkg-parsechangelog -l "$SRC/debian/changelog" -S Version)

cat > "$WORK/cycle.sh" <<'CYCLE'
# Runs inside the chroot. Prints "FAIL: ..." for each fault.
set -u
export DEBIAN_FRONTEND=noninteractive LC_ALL=C.UTF-8 MANWIDTH=80
no() { echo "FAIL: $*"; }
apt() { apt-get -q -y -o Dpkg::Use-Pty=0 "$@" >>/tmp/apt.log 2>&1 || no "apt-get $*"; }
# login: an interactive login shell of nobody on a terminal, as after ssh.
login() {
	setpriv --reuid=65534 --regid=65534 --clear-groups env HOME=/nonexistent \
		script -qec "sh -l -i -c 'echo in'" /dev/null </dev/null 2>&1 | tr -d '\r'
}
version() { dpkg-query -W -f='${Version} ${db:Status-Abbrev}' "$1" 2>/dev/null; }

apt install /tmp/debs/old/*.deb
[ "$(version spoolnag)" = "0.0.1 ii " ] || no "old build: $(version spoolnag)"
apt install /tmp/debs/new/*.deb
for p in spoolnag libboxquota-dev libpam-spoolnag; do
	[ "$(version $p)" = "$VERSION ii " ] || no "upgrade of $p: $(version $p)"
	dpkg -L $p > /tmp/files.$p
	while read -r f; do [ -e "$f" ] || no "$p: $f listed, missing"; done < /tmp/files.$p
done
for f in /usr/bin/spoolnag /usr/sbin/pwdb /usr/sbin/spoolstat /usr/sbin/boxpolicy \
    /usr/sbin/spoolwarn /etc/spoolwarn/letter \
    /etc/profile.d/spoolnag.sh /usr/include/boxquota.h /usr/share/pam-configs/spoolnag \
    /lib/systemd/system/pwdb.path /etc/systemd/system/paths.target.wants/pwdb.path \
    /lib/systemd/system/spoolwarn.service /etc/systemd/system/timers.target.wants/spoolwarn.timer; do
	[ -e "$f" ] || no "not installed: $f"
done
for page in spoolnag.1 pwdb.8 spoolstat.8 boxpolicy.8 spoolwarn.8 boxquota.3 boxquota.5 pam_spoolnag.8; do
	man "${page##*.}" "${page%.*}" 2>/tmp/man.err | grep -q . || no "man ${page%.*} shows nothing"
	[ -s /tmp/man.err ] && no "man ${page%.*}: $(cat /tmp/man.err)"
done
grep -q pam_spoolnag /etc/pam.d/common-session && no "the PAM profile is on by default"
pam-auth-update --enable spoolnag
grep -q pam_spoolnag /etc/pam.d/common-session || no "pam-auth-update --enable spoolnag did nothing"

# The letter, for nobody (uid 65534) at 95% of a limit of 1000 bytes,
# from the installed template (a line added to it shows it is read), once.
printf '# test\n100\n1000\n' > /var/mail/.boxquota
head -c 950 /dev/zero > /var/mail/nobody
chown 65534 /var/mail/nobody # as delivery makes it: spoolwarn counts no other
printf '#!/bin/sh\n{ echo "=== $*"; cat; } >> /tmp/letters\n' > /tmp/sendmail
chmod 755 /tmp/sendmail
sed -i 's/^From: postmaster$/From: postmaster\nX-Site: installed template/' /etc/spoolwarn/letter
spoolwarn -S /tmp/sendmail || no "spoolwarn failed"
spoolwarn -S /tmp/sendmail || no "spoolwarn failed the second time"
[ "$(grep -c '^=== -i -f <> nobody$' /tmp/letters)" = 1 ] || no "letters: $(cat /tmp/letters)"
grep -q '^X-Site: installed template$' /tmp/letters || no "the installed template was not read"
grep -q '^90 nobody$' /var/lib/spoolwarn/state || no "spoolwarn recorded nothing"

# The warning, for nobody over the limit.
head -c 5000 /dev/zero > /var/mail/nobody
out=$(setpriv --reuid=65534 --regid=65534 --clear-groups spoolnag)
case $out in *"NO MORE MAIL"*) ;; *) no "spoolnag said: [$out]" ;; esac
out=$(login)
case $out in *"NO MORE MAIL"*in) ;; *) no "a login with the hook said: [$out]" ;; esac
/usr/sbin/pwdb || no "pwdb failed"
[ -e /etc/passwd.pag ] && [ -e /etc/passwd.dir ] || no "pwdb made no database"
[ -e /etc/passwd.pwdb.lock ] || no "pwdb took no lock"

apt remove spoolnag libboxquota-dev libpam-spoolnag
[ "$(version spoolnag)" = "$VERSION rc " ] || no "after remove: $(version spoolnag)"
conffiles=$(dpkg-query -W -f='${Conffiles}' spoolnag | awk 'NF { print $1 }' | sort)
[ "$conffiles" = "/etc/profile.d/spoolnag.sh
/etc/spoolwarn/letter" ] || no "conffiles after remove: [$conffiles]"
[ -e /etc/profile.d/spoolnag.sh ] || no "the conffile went with remove"
[ -e /etc/spoolwarn/letter ] || no "the letter's template went with remove"
for p in spoolnag libboxquota-dev libpam-spoolnag; do
	while read -r f; do
		[ -e "$f" ] && [ ! -d "$f" ] && [ "$f" != /etc/profile.d/spoolnag.sh ] &&
			[ "$f" != /etc/spoolwarn/letter ] && no "$f stays after remove"
	done < /tmp/files.$p
done
grep -q pam_spoolnag /etc/pam.d/common-session && no "the PAM stack names the removed module"
# A login shell with the hook left behind, as an interactive one would.
out=$(login)
[ "$out" = in ] || no "a login after remove said: [$out]"

# The other two have no conffile: remove left nothing to purge.
apt purge spoolnag
for p in spoolnag libboxquota-dev libpam-spoolnag; do
	[ -z "$(version $p)" ] || [ "$(version $p)" = " un " ] || no "after purge: $p $(version $p)"
	while read -r f; do
		[ -e "$f" ] && [ ! -d "$f" ] && no "$f stays after purge"
	done < /tmp/files.$p
done
for f in /etc/passwd.pag /etc/passwd.dir /etc/passwd.pwdb.lock \
    /etc/systemd/system/paths.target.wants/pwdb.path \
    /etc/systemd/system/timers.target.wants/spoolwarn.timer /var/lib/spoolwarn /etc/spoolwarn; do
	[ -e "$f" ] && no "$f stays after purge"
done
echo cycle done
CYCLE

out=$(unshare -m --propagation private sh -c '
	set -e
	work=$1
	mkdir -p "$work/layers" "$work/root"
	mount -t tmpfs -o mode=755 tmpfs "$work/layers"
	mkdir "$work/layers/upper" "$work/layers/work"
	mount -t overlay overlay -o "lowerdir=/,upperdir=$work/layers/upper,workdir=$work/layers/work" "$work/root"
	root=$work/root
	mount -t proc proc "$root/proc"
	mount -t tmpfs -o mode=755 tmpfs "$root/dev"
	for d in null zero full random urandom tty; do
		touch "$root/dev/$d"
		mount --bind "/dev/$d" "$root/dev/$d"
	done
	mkdir "$root/dev/pts"
	mount -t devpts -o newinstance,ptmxmode=0666,mode=620 devpts "$root/dev/pts"
	ln -s pts/ptmx "$root/dev/ptmx"
	mount -t tmpfs tmpfs "$root/run"
	mount -t tmpfs -o mode=1777 tmpfs "$root/tmp"
	cp -R "$work/debs" "$root/tmp/debs"
	cp "$work/cycle.sh" "$root/tmp/cycle.sh"
	printf "#!/bin/sh\n# no service starts in this root\nexit 101\n" > "$root/usr/sbin/policy-rc.d"
	chmod 755 "$root/usr/sbin/policy-rc.d"
	out=$(chroot "$root" env VERSION="$2" sh /tmp/cycle.sh 2>&1) || out="$out
FAIL: the cycle script failed"
	echo "$out"
	case $out in *FAIL*) echo "--- apt-get:"; tail -n 40 "$root/tmp/apt.log" ;; esac
' sh "$WORK" "$VERSION" 2>&1)
echo "$out"
expect_eq "host dpkg status" "$status_before" "$(cksum < /var/lib/dpkg/status)"
[ ! -e "$WORK/root/usr/bin/spoolnag" ] || fail "the overlay outlived its namespace"
expect_lacks "the cycle" "FAIL" "$out"
expect_contains "the cycle" "cycle done" "$out"
echo "install, upgrade, remove and purge: as expected"
