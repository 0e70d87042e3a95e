# SPDX-License-Identifier: ISC
# lib.sh - what the package's system tests share: sourced by each test in
# debian/tests. They run as root on a Debian system booted with systemd,
# with the packages installed and one mail server (Postfix or Exim, as
# Debian installs it), and change that system for good (breaks-testbed).
set -u
failures=0

# fail MESSAGE: one failure, said at once; the test goes on.
fail() {
	echo "FAIL: $*" >&2
	failures=$((failures + 1))
}

# done_test: the test's exit status, after its last check.
done_test() {
	if [ "$failures" -ne 0 ]; then
		echo "$failures check(s) failed" >&2
		exit 1
	fi
	echo "all checks passed"
	exit 0
}

# The mail server that is installed: postfix or exim4.
mta() {
	if [ -x /usr/sbin/postfix ]; then echo postfix
	elif [ -x /usr/sbin/exim4 ]; then echo exim4
	else echo none; fi
}

# The host's mail name, as the packages use it.
mailname() {
	if [ -s /etc/mailname ]; then head -n 1 /etc/mailname; else hostname; fi
}

# limit BYTES: uids 1000 and up may keep at most BYTES in their mailbox.
limit() {
	printf '# the system tests\n1000\n%s\n' "$1" > /var/mail/.boxquota
	chmod 644 /var/mail/.boxquota
}

# user LOGIN [SHELL]: an account as adduser makes it (a private home).
user() {
	adduser --quiet --disabled-password --gecos '' ${2:+--shell "$2"} "$1" > /dev/null ||
		fail "adduser $1 failed"
}

# mailbox LOGIN BYTES: LOGIN's mailbox holding one message, BYTES long in
# all, owned as delivery makes it.
mailbox() {
	python3 - "/var/mail/$1" "$2" <<'PY'
import sys
path, size = sys.argv[1], int(sys.argv[2])
head = "From someone@example.net Thu Jan  1 00:00:00 2026\nSubject: filler\n\n"
with open(path, "w") as f:
    f.write(head + "x" * (size - len(head) - 2) + "\n\n")
PY
	chown "$1:mail" "/var/mail/$1"
	chmod 600 "/var/mail/$1"
}

# letters LOGIN: how many messages LOGIN's mailbox holds.
letters() {
	grep -c '^From ' "/var/mail/$1" 2>/dev/null || true
}

# queued: the messages the mail server still means to deliver (frozen ones,
# which Exim will not try again, left out).
queued() {
	case $(mta) in
	postfix) postqueue -j 2>/dev/null | grep -c . ;;
	exim4) exim4 -bp 2>/dev/null | grep -E '^ *[0-9]+[smhd] ' | grep -vc 'frozen' ;;
	esac
}

# settle: waits (at most 60 s) until the mail server has delivered, bounced
# or given up on every message.
settle() {
	i=0
	while [ "$(queued)" != 0 ] && [ $i -lt 60 ]; do
		sleep 1
		i=$((i + 1))
	done
	[ $i -lt 60 ] || fail "mail still queued after 60 s: $(mailq 2>&1 | head -n 20)"
}

# smtp FROM TO SUBJECT [SIZE]: one message over SMTP to the mail server on
# the loopback address, from 127.0.0.2 as from another host (Debian's Exim
# lets 127.0.0.1 relay before its RCPT checks); prints the reply that
# settled it, code and text (RCPT's when refused there, else the one after
# the data). With SIZE, MAIL FROM declares SIZE=SIZE and the message is
# that long.
smtp() {
	python3 - "$@" <<'PY'
import smtplib, sys
frm, to, subject = sys.argv[1:4]
size = int(sys.argv[4]) if len(sys.argv) > 4 else 0
s = smtplib.SMTP("127.0.0.1", 25, timeout=60, source_address=("127.0.0.2", 0))
s.ehlo("client.example.net")
s.mail(frm, [f"SIZE={size}"] if size else [])
code, text = s.rcpt(to)
if code >= 300:
    print(code, text.decode())
else:
    code, text = s.docmd("DATA")
    if code == 354:
        msg = f"From: {frm}\r\nTo: {to}\r\nSubject: {subject}\r\n\r\n{subject}\r\n"
        msg += ("x" * 76 + "\r\n") * max(0, (size - len(msg)) // 78 + 1) if size else ""
        s.send((msg + ".\r\n").encode())
        code, text = s.getreply()
    print(code, text.decode())
s.quit()
PY
}

# submit FROM TO SUBJECT: one message through the mail server's sendmail,
# as root.
submit() {
	printf 'From: %s\nTo: %s\nSubject: %s\n\n%s\n' "$1" "$2" "$3" "$3" |
		/usr/sbin/sendmail -i -f "$1" "$2" || fail "sendmail to $2 failed"
}

# postfix_boxpolicy: boxpolicy(8)'s set-up for Postfix, as the README gives
# it, unless a test before has made it.
postfix_boxpolicy() {
	grep -q '^boxpolicy ' /etc/postfix/master.cf && return
	cat >> /etc/postfix/master.cf <<MASTER
boxpolicy unix  -       n       n       -       0       spawn
  user=nobody argv=/usr/sbin/boxpolicy -d + $(mailname)
MASTER
	postconf -e 'smtpd_recipient_restrictions = reject_unauth_destination, check_policy_service { unix:private/boxpolicy, default_action=DUNNO }' \
		'smtpd_end_of_data_restrictions = check_policy_service { unix:private/boxpolicy, default_action=DUNNO }' \
		'boxpolicy_time_limit = 3600' \
		'mailbox_transport_maps = socketmap:unix:/var/spool/postfix/private/boxpolicy:boxquota'
	systemctl reload postfix || fail "postfix reload failed"
}

# no_failed_units: systemctl --failed lists nothing.
no_failed_units() {
	failed=$(systemctl --failed --no-legend --plain)
	[ -z "$failed" ] || fail "failed units: $failed"
}
