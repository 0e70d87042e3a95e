#!/bin/sh
# SPDX-License-Identifier: ISC
# sshd.sh MODULE SPOOLNAG HOOK_TEMPLATE DEBS - real logins through Debian's
# OpenSSH server with pam_spoolnag in its PAM session stack and the login
# hook in /etc/profile.d. Two users over the limit, one with bash (whose
# login reads /etc/profile, so the hook runs too) and one with zsh (whose
# login does not): an interactive ssh -tt login shows each of them the
# warning exactly once, with SPOOLNAG_SHOWN=pam in the shell's environment;
# ssh USER true, scp and scp -O show nothing of it.
#
# DEBS is the folder scripts/unpack-debs.sh unpacked openssh-server and
# openssh-sftp-server into (nothing of them is installed). The server runs
# in a private mount and network namespace, on 127.0.0.1 of that namespace
# only, over a sample host bound onto /etc/passwd, /etc/shadow, /etc/group,
# /etc/pam.d, /etc/profile.d, /var/mail, /run and /var/log (the login
# records land there), and is stopped by its pid at the end. Needs root:
# exits 77 (skipped) without it or without the unpacked server, unless CI is
# set.
set -u
module=$(realpath "$1") spoolnag=$(realpath "$2") hook=$3 debs=$4
sshd=$debs/openssh-server/usr/sbin/sshd
sftp=$debs/openssh-sftp-server/usr/lib/openssh/sftp-server

. "$(dirname "$0")/../skip.sh"
need_namespace -m -n
[ -x "$sshd" ] && [ -x "$sftp" ] ||
	skip "no unpacked sshd in $debs (sh scripts/unpack-debs.sh .cache/debs openssh-server openssh-sftp-server)"
for p in ssh scp ssh-keygen zsh bash ip timeout; do
	command -v $p >/dev/null || skip "$p is missing"
done

tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT
chmod 755 "$tmp"
mkdir -p "$tmp/etc/pam.d" "$tmp/profile.d" "$tmp/bin" "$tmp/mail" "$tmp/run/sshd" "$tmp/log"

# The installed pieces: spoolnag, the hook naming it, the module.
cp "$spoolnag" "$tmp/bin/spoolnag"
sed "s|@CMAKE_INSTALL_FULL_BINDIR@|$tmp/bin|g" "$hook" >"$tmp/profile.d/spoolnag.sh"
cp "$module" "$tmp/pam_spoolnag.so"

# The accounts: root, sshd's privilege separation user, and the two users.
zsh=$(command -v zsh) bash=$(command -v bash)
cat >"$tmp/etc/passwd" <<EOF
root:x:0:0:root:/root:$bash
sshd:x:100:65534::/run/sshd:/usr/sbin/nologin
bashuser:x:1000:1000::$tmp/home/bashuser:$bash
zshuser:x:1001:1001::$tmp/home/zshuser:$zsh
EOF
sed 's/:.*/:*:19000:0:99999:7:::/' "$tmp/etc/passwd" >"$tmp/etc/shadow"
chmod 640 "$tmp/etc/shadow"
printf 'root:x:0:\nnogroup:x:65534:\nbashuser:x:1000:\nzshuser:x:1001:\n' >"$tmp/etc/group"
# Key-only logins: PAM is asked for the account and the session only.
cat >"$tmp/etc/pam.d/sshd" <<EOF
auth required pam_deny.so
account required pam_permit.so
session optional $tmp/pam_spoolnag.so
session required pam_permit.so
password required pam_deny.so
EOF
cp "$tmp/etc/pam.d/sshd" "$tmp/etc/pam.d/other"

printf '100\n500000\n' >"$tmp/mail/.boxquota"
truncate -s 600000 "$tmp/mail/bashuser"
truncate -s 700000 "$tmp/mail/zshuser"

ssh-keygen -q -t ed25519 -N '' -f "$tmp/hostkey" || exit 1
ssh-keygen -q -t ed25519 -N '' -f "$tmp/userkey" || exit 1
for u in bashuser zshuser; do
	mkdir -p "$tmp/home/$u/.ssh"
	cp "$tmp/userkey.pub" "$tmp/home/$u/.ssh/authorized_keys"
	chmod 700 "$tmp/home/$u/.ssh"
	chmod 600 "$tmp/home/$u/.ssh/authorized_keys"
done
# zsh asks a new user to set it up unless a start-up file exists.
: >"$tmp/home/zshuser/.zshrc"
chown -R 1000:1000 "$tmp/home/bashuser"
chown -R 1001:1001 "$tmp/home/zshuser"
chmod 755 "$tmp/home"
: >"$tmp/run/utmp"
: >"$tmp/log/wtmp"
: >"$tmp/log/btmp"
: >"$tmp/log/lastlog"
echo "copied by scp" >"$tmp/payload"

cat >"$tmp/sshd_config" <<EOF
ListenAddress 127.0.0.1
Port 2222
HostKey $tmp/hostkey
PidFile none
UsePAM yes
PubkeyAuthentication yes
PasswordAuthentication no
KbdInteractiveAuthentication no
PermitRootLogin no
AuthorizedKeysFile .ssh/authorized_keys
PrintMotd no
PrintLastLog no
Subsystem sftp $sftp
LogLevel VERBOSE
EOF

unshare -m -n --propagation private sh -s "$tmp" "$sshd" <<'INNER'
set -u
tmp=$1 sshd=$2
fail() { echo "FAIL: $*"; failed=1; }
failed=0
for f in passwd shadow group pam.d; do
	mount --bind "$tmp/etc/$f" "/etc/$f" || exit 1
done
mount --bind "$tmp/profile.d" /etc/profile.d &&
mount --bind "$tmp/mail" /var/mail &&
mount --bind "$tmp/run" /run &&
mount --bind "$tmp/log" /var/log || exit 1
[ ! -e /dev/log ] || mount --bind /dev/null /dev/log || exit 1
ip link set lo up || exit 1

"$sshd" -D -e -f "$tmp/sshd_config" 2>"$tmp/sshd.log" &
pid=$!
trap 'kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null' EXIT
n=0
until grep -q 'Server listening' "$tmp/sshd.log"; do
	n=$((n + 1))
	if [ $n -gt 100 ] || ! kill -0 "$pid" 2>/dev/null; then
		echo "FAIL: sshd did not start:"; cat "$tmp/sshd.log"; exit 1
	fi
	sleep 0.1
done

set -- -F /dev/null -i "$tmp/userkey" -o BatchMode=yes -o LogLevel=ERROR \
	-o StrictHostKeyChecking=no -o "UserKnownHostsFile=$tmp/known_hosts"
first='WARNING: system mailbox /var/mail/%s is over quota (%s bytes)'
second='Until YOU make it less then 500001 bytes, you will receive NO MORE MAIL'
for user in bashuser:600000 zshuser:700000; do
	size=${user#*:} user=${user%:*}
	# An interactive login on a terminal; what is typed shows that the
	# module's mark reached the shell.
	out=$(printf 'echo "mark=$SPOOLNAG_SHOWN"\nexit\n' |
		timeout 30 ssh -tt "$@" -p 2222 "$user@127.0.0.1" 2>&1 | tr -d '\r')
	line=$(printf "$first" "$user" "$size")
	got=$(printf '%s\n' "$out" | grep -cF "$line")
	[ "$got" = 1 ] || fail "$user: ssh -tt showed the warning $got times"
	got=$(printf '%s\n' "$out" | grep -cF "$second")
	[ "$got" = 1 ] || fail "$user: ssh -tt showed its second line $got times"
	printf '%s\n' "$out" | grep -q 'mark=pam' || fail "$user: SPOOLNAG_SHOWN=pam not in the login's environment"
	[ "$failed" = 0 ] || printf '%s\n' "--- ssh -tt as $user:" "$out"

	out=$(timeout 30 ssh "$@" -p 2222 "$user@127.0.0.1" true 2>&1)
	[ $? = 0 ] || fail "$user: ssh true failed: $out"
	[ -z "$out" ] || fail "$user: ssh true printed: $out"

	for mode in '' -O; do
		out=$(timeout 30 scp $mode "$@" -P 2222 "$tmp/payload" "$user@127.0.0.1:copy$mode" 2>&1)
		[ $? = 0 ] || fail "$user: scp $mode failed: $out"
		[ -z "$out" ] || fail "$user: scp $mode printed: $out"
		cmp -s "$tmp/payload" "$tmp/home/$user/copy$mode" || fail "$user: scp $mode copied nothing"
	done
done
if [ "$failed" != 0 ]; then
	echo "--- sshd's log:"; cat "$tmp/sshd.log"
	exit 1
fi
echo "ok: one warning for each login, none for commands and copies"
INNER
