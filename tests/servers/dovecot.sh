#!/bin/sh
# SPDX-License-Identifier: ISC
# servers.dovecot - the boxquota quota backend in Debian's Dovecot, for real.
#
# Dovecot (dovecot-core, dovecot-imapd, dovecot-lmtpd unpacked from Debian's
# archive) runs as root in private mount, network and PID namespaces with
# Debian's configuration as installed, the test's changes in local.conf
# (dovecot-host.sh), and the plugin's documented conf.d file. The sample
# host: limit from uid 1000 at 20000 bytes; alice (1001) holds a mailbox of
# 10000 bytes, bob (1002) one of 30000, dave (900, below the lowest uid)
# one of 30000; /var/mail as Debian makes it (root:mail 2775). Shown:
# GETQUOTAROOT INBOX gives alice her mailbox's size and the site's limit in
# KiB, rounded up as Dovecot rounds, and dave no limit; over LMTP a
# message to bob (over) and one that would take alice over are refused
# with 552 5.2.2, their mailboxes byte for byte as they were, while dave
# and alice within the limit get theirs; dovecot-lda -e, run as the user
# as a mailbox_command is, exits 77 (EX_NOPERM, a permanent failure to the
# caller) for bob and leaves his mailbox alone, and delivers to alice;
# a limit file replaced under an open IMAP session and an open LMTP
# connection is seen by the next command of each, without restarting.
. "$(dirname "$0")/lib.sh"
. "$(dirname "$0")/dovecot-host.sh"

# kib BYTES: BYTES in KiB, rounded up (Dovecot's STORAGE figures).
kib()
{
	echo $((($1 + 1023) / 1024))
}

# set_limit MIN MAX: /var/mail/.boxquota replaced at once, as an
# administrator's editor would.
set_limit()
{
	printf '# test limit\n%s\n%s\n' "$1" "$2" >/var/mail/.boxquota.new
	chmod 644 /var/mail/.boxquota.new
	mv /var/mail/.boxquota.new /var/mail/.boxquota
}

# lda USER: dovecot-lda -e for USER, run as USER, a small message marked
# with $2 on its standard input; prints the exit status and stderr.
lda()
{
	id=$(id -u "$1")
	printf 'From: sender@example.net\nSubject: %s\n\n%s\n' "$2" "$2" |
		setpriv --reuid="$id" --regid="$id" --init-groups \
			/usr/lib/dovecot/dovecot-lda -e -d "$1" -f sender@example.net 2>&1 && status=0 || status=$?
	echo "status $status"
}

if [ "${1-}" = inside ]; then
	dovecot_mounts "$WORK/tree"
	begin_host mx "$WORK/host" "$WORK/syslog"
	start_dovecot
	mark=$(date +%s)-$$

	# GETQUOTAROOT: usage and limit for a user the limit covers, none for
	# one it does not.
	out=$(mailclient imap 143 -- login:alice:secret quota) || fail "IMAP: $out"
	expect "alice: GETQUOTAROOT INBOX gives the root" '^quota -> \* QUOTAROOT INBOX "' "$out"
	expect "alice: her mailbox and the limit in KiB" \
		"\\* QUOTA \"[^\"]*\" \\(STORAGE $(kib "$(stat -c %s /var/mail/alice)") $(kib 20000)\\)" "$out"
	out=$(mailclient imap 143 -- login:dave:secret quota) || fail "IMAP: $out"
	expect "dave: GETQUOTAROOT INBOX answers" '^quota -> (.* )?a[0-9]+ OK ' "$out"
	printf '%s\n' "$out" | grep -q 'STORAGE [0-9]* [0-9]*' &&
		fail "dave, below the lowest uid, has a limit: $out"
	echo "ok: dave: no STORAGE limit"

	# LMTP: refused over the limit, mailboxes unchanged; delivered within.
	# Dovecot writes its own headers (X-IMAPbase, X-UID) into a mailbox
	# the first time it opens it: done here, before the copies are made.
	for user in alice bob; do
		doveadm force-resync -u "$user" INBOX || fail "doveadm force-resync -u $user"
	done
	alice=$(snapshot_of /var/mail/alice)
	bob=$(snapshot_of /var/mail/bob)
	out=$(mailclient lmtp /run/dovecot/lmtp -- mail:s@example.net rcpt:alice \
		data:15000:"big-$mark") || fail "LMTP: $out"
	expect "alice: a message that would take her over is refused" \
		"^data:15000:big-$mark -> 552 5\\.2\\.2 " "$out"
	cmp -s /var/mail/alice "$alice" || fail "the refused message changed alice's mailbox"
	out=$(mailclient lmtp /run/dovecot/lmtp -- mail:s@example.net rcpt:bob rcpt:alice \
		rcpt:dave data:2000:"small-$mark") || fail "LMTP: $out"
	expect "bob, over the limit: refused" "(^rcpt:bob|^data:2000:"small-$mark") -> 552 5\\.2\\.2 " "$out"
	cmp -s /var/mail/bob "$bob" || fail "the refused message changed bob's mailbox"
	echo "ok: the refused mailboxes byte for byte as they were"
	for user in alice dave; do
		grep -q "^Subject: small-$mark" "/var/mail/$user" ||
			fail "$user: the message within the limit was not delivered: $out"
		echo "ok: $user: delivered within the limit"
	done

	# dovecot-lda, as a mailbox_command runs it.
	out=$(lda bob "lda-$mark")
	expect "dovecot-lda for bob: a permanent failure (EX_NOPERM)" '^status 77$' "$out"
	cmp -s /var/mail/bob "$bob" || fail "dovecot-lda changed bob's mailbox"
	echo "ok: dovecot-lda left bob's mailbox as it was"
	out=$(lda alice "lda-$mark")
	expect "dovecot-lda for alice: delivered" '^status 0$' "$out"
	grep -q "^Subject: lda-$mark" /var/mail/alice || fail "dovecot-lda did not deliver to alice"

	# The limit replaced under a running IMAP session and LMTP connection.
	out=$(mailclient imap 143 -- login:alice:secret quota "sh:sh $0 set_limit 1000 50000" quota \
		"sh:sh $0 set_limit 1000 20000") || fail "IMAP: $out"
	expect "an open IMAP session sees the new limit" \
		"^quota -> .*\\(STORAGE [0-9]+ $(kib 50000)\\)" "$out"
	alice=$(snapshot_of /var/mail/alice)
	out=$(mailclient lmtp /run/dovecot/lmtp -- mail:s@example.net rcpt:alice \
		"data:15000:before-$mark" "sh:sh $0 set_limit 1000 50000" mail:s@example.net rcpt:alice \
		"data:15000:after-$mark") || fail "LMTP: $out"
	expect "an open LMTP connection: refused under the old limit" \
		"^data:15000:before-$mark -> 552 5\\.2\\.2 " "$out"
	expect "and delivered under the new one" "^data:15000:after-$mark -> 250 " "$out"
	grep -q "^Subject: before-$mark" /var/mail/alice && fail "refused, yet delivered: $out"
	exit 0
fi

# The helper a session step runs: "sh:sh dovecot.sh set_limit MIN MAX".
if [ "${1-}" = set_limit ]; then
	set_limit "$2" "$3"
	exit 0
fi

need_namespaces
need_unpacked dovecot-core dovecot-imapd dovecot-lmtpd
[ -f "$BOXQUOTA_PLUGIN" ] || fail "the plugin is not built: $BOXQUOTA_PLUGIN"
begin_work
h=$WORK/host
echo 'dave:x:900:900:below the lowest uid:/nonexistent:/bin/sh' >>"$h/passwd"
echo 'dave:x:900:' >>"$h/group"
printf '%s\n' "$DOVECOT_PASSWD" >>"$h/passwd"
printf '%s\n' "$DOVECOT_GROUP" >>"$h/group"
for user in alice:1001:10000 bob:1002:30000 dave:900:30000; do
	name=${user%%:*} id=${user#*:} id=${id%:*} size=${user##*:}
	sed -i "s|^\\($name:.*:\\)/nonexistent:|\\1$WORK/home/$name:|" "$h/passwd"
	mkdir -p "$WORK/home/$name"
	chown "$id:$id" "$WORK/home/$name"
	mbox_of "$size" "$name" >"$h/mail/$name"
	chown "$id:8" "$h/mail/$name"
	chmod 600 "$h/mail/$name"
done
chown root:8 "$h/mail"
chmod 2775 "$h/mail"
dovecot_tree "$WORK/tree" "$BOXQUOTA_PLUGIN"
# Run by a user, dovecot-lda needs the mail group for its dot locks in
# /var/mail: setgid mail, as Dovecot's documentation says for a
# mailbox_command.
chgrp 8 "$WORK/tree/lib/dovecot-lda"
chmod 2755 "$WORK/tree/lib/dovecot-lda"
dovecot_quota "$WORK/tree" "$SRC/dovecot/90-boxquota.conf"

run_host "$WORK/syslog" "$WORK/dovecot.out"
