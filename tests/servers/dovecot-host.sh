# SPDX-License-Identifier: ISC
# shellcheck shell=sh disable=SC2034
# dovecot-host.sh - Debian's Dovecot, unpacked, on a test host: sourced
# after lib.sh by the Dovecot test and by bench/dovecot.sh.
#
# Dovecot's paths are compiled in (/usr/lib/dovecot, /usr/bin/doveconf, /etc/dovecot,
# /usr/share/dovecot, /run/dovecot, /var/lib/dovecot); dovecot_tree puts
# what Debian's packages would install there into a folder, and
# dovecot_mounts, inside the test's private mount namespace, shows that
# folder at those paths: the libraries and modules of dovecot-core,
# dovecot-imapd and dovecot-lmtpd (and the module under test, when given)
# merged, the configuration as Debian's maintainer scripts make it (the
# shipped /usr/share/dovecot copied to /etc/dovecot, each protocol's
# protocols.d line written), and an empty run and state folder. The
# host's folders are never written: /etc and /var/lib are shown through
# overlays and a tmpfs of the namespace's own.
#
# The test's changes to Debian's configuration, and nothing else, are in
# /etc/dovecot/local.conf, which Debian's dovecot.conf includes last:
# loopback only, no TLS, any account of /etc/passwd logging in with the
# password "secret" (Debian's auth-system.conf.ext, which asks PAM, is
# left out of 10-auth.conf); then the quota set-up the caller gives.

# The accounts Dovecot's own processes run as (Debian's dovecot and
# dovenull), for the test's /etc/passwd and /etc/group.
DOVECOT_PASSWD='dovecot:x:120:120:Dovecot mail server:/usr/lib/dovecot:/usr/sbin/nologin
dovenull:x:121:65534:Dovecot login user:/nonexistent:/usr/sbin/nologin'
DOVECOT_GROUP='dovecot:x:120:'

# dovecot_tree DIR [MODULE]: the files of an unpacked Dovecot in DIR
# (lib/, share/, etc/dovecot/), MODULE (a plugin's .so) among its modules.
dovecot_tree()
{
	t=$1
	rm -rf "$t"
	mkdir -p "$t/lib" "$t/share" "$t/etc" "$t/bin" "$t/sbin"
	cp -a "$DEBS/dovecot-core/usr/bin/." "$t/bin/"
	cp -a "$DEBS/dovecot-core/usr/sbin/." "$t/sbin/"
	for pkg in dovecot-core dovecot-imapd dovecot-lmtpd; do
		cp -a "$DEBS/$pkg/usr/lib/dovecot/." "$t/lib/"
		cp -a "$DEBS/$pkg/usr/share/dovecot/." "$t/share/"
	done
	[ -z "${2-}" ] || install -m 644 "$2" "$t/lib/modules/"
	echo 'protocols = $protocols imap' >"$t/share/protocols.d/imapd.protocol"
	echo 'protocols = $protocols lmtp' >"$t/share/protocols.d/lmtpd.protocol"
	# What ucf does on installation: the shipped files become /etc/dovecot.
	mkdir -p "$t/etc/dovecot"
	cp -a "$t/share/dovecot.conf" "$t/share/conf.d" "$t/etc/dovecot/"
	for ext in "$t/share/"*.conf.ext; do cp -a "$ext" "$t/etc/dovecot/"; done
	# Debian's postinst links the host's snakeoil certificate here; with
	# ssl = no it is named, never read.
	mkdir -m 700 "$t/etc/dovecot/private"
	: >"$t/etc/dovecot/private/dovecot.pem"
	: >"$t/etc/dovecot/private/dovecot.key"
	sed -i 's/^!include auth-system\.conf\.ext/#&/' "$t/etc/dovecot/conf.d/10-auth.conf"
	grep -q '^#!include auth-system' "$t/etc/dovecot/conf.d/10-auth.conf" ||
		fail "10-auth.conf does not include auth-system.conf.ext as expected"
	cat >"$t/etc/dovecot/local.conf" <<'CONF'
# The test's changes to Debian's configuration.
listen = 127.0.0.1
ssl = no
service imap-login {
  inet_listener imaps {
    port = 0
  }
}
passdb {
  driver = static
  args = password=secret
}
userdb {
  driver = passwd
}
CONF
	chmod -R go-w "$t"
}

# dovecot_quota DIR CONF: CONF (text) appended to the test's local.conf, or
# the file a plugin's documentation says to install, when CONF names one.
dovecot_quota()
{
	if [ -f "$2" ]; then
		cp "$2" "$1/etc/dovecot/conf.d/"
	else
		printf '%s\n' "$2" >>"$1/etc/dovecot/local.conf"
	fi
}

# dovecot_mounts DIR: inside the namespace, DIR's tree at Dovecot's paths.
dovecot_mounts()
{
	mount --bind "$1/lib" /usr/lib/dovecot
	mount --bind "$1/share" /usr/share/dovecot
	for dir in etc usr/bin usr/sbin; do
		mount -t overlay overlay -o "lowerdir=$1/${dir#usr/}:/$dir" "/$dir"
	done
	mount -t tmpfs -o mode=755 tmpfs /var/lib
	mkdir -p /var/lib/dovecot
	mount -t tmpfs -o mode=755 tmpfs /run
	mkdir -p /run/dovecot
}

# start_dovecot: Dovecot's master in the foreground of a tracked background
# job, logging to syslog (Debian's default, the test's /dev/log); returns
# once IMAP answers and LMTP's socket is there.
start_dovecot()
{
	/usr/sbin/dovecot -F </dev/null >>"$WORK/dovecot.out" 2>&1 &
	track $!
	wait_port 127.0.0.1 143
	wait_for 10 test -S /run/dovecot/lmtp || fail "LMTP's socket did not appear"
}

# mbox_of SIZE MARK: a mailbox of one message, SIZE bytes in all, on
# standard output.
mbox_of()
{
	head="From sender@example.net Thu Jan  1 00:00:00 2026
From: sender@example.net
Subject: $2

"
	printf '%s' "$head"
	head -c $(($1 - ${#head} - 1)) /dev/zero | tr '\0' x
	echo
}

# mailclient ARG...: tests/servers/mailclient.py.
mailclient()
{
	"$PYTHON" "$SRC/tests/servers/mailclient.py" "$@"
}
