#!/bin/sh
# SPDX-License-Identifier: ISC
# session.sh SESSION MODULE - pam_spoolnag loaded by the real PAM library:
# the test program SESSION opens a session through a service file that names
# MODULE, as root in a private mount namespace over a sample host (its
# /etc/passwd and /var/mail bound in, and a /dev of its own where the test
# program may read the syslog). Each case compares what the conversation
# got, the result, the PAM environment and, where asked, what the module
# logged with the table below. The module is alone in the stack, so the
# result is its own answer: PAM_IGNORE shows as "Permission denied".
# Needs root: exits 77 (skipped) without it, unless CI is set.
#
# SPOOLNAG_WRAPPER (environment, optional): a command put before SESSION, as
# in tests/run-case.sh; its logs under WRAPPER_LOG are shown on a failure.
set -u
session=$(realpath "$1") module=$(realpath "$2")

. "$(dirname "$0")/../skip.sh"
need_namespace

tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT
chmod 755 "$tmp"
mkdir "$tmp/pam.d" "$tmp/log" "$tmp/dev"
# Options the module does not know are logged and ignored.
cat >"$tmp/pam.d/spoolnag-test" <<EOF
session required $module debug no-such-option
EOF
: >"$tmp/pam.d/other" # else PAM logs that it has no default
devices='null zero full random urandom tty'
for node in $devices; do : >"$tmp/dev/$node"; done
ln -s /proc/self/fd "$tmp/dev/fd"

# The sample host: a limit of 500000 bytes from uid 100; dave's mailbox is a
# link into a folder only root may enter, erin's one into an open folder.
host() {
	rm -rf "$tmp/host" "$tmp/dev/log"
	mkdir -p "$tmp/host/mail" "$tmp/host/closed" "$tmp/host/open"
	cat >"$tmp/host/passwd" <<-'EOF'
	root:x:0:0:root:/root:/bin/sh
	alice:x:1000:1000::/home/alice:/bin/sh
	bob:x:1001:1001::/home/bob:/bin/sh
	carol:x:99:99::/home/carol:/bin/sh
	dave:x:1002:1002::/home/dave:/bin/sh
	erin:x:1003:1003::/home/erin:/bin/sh
	EOF
	printf '100\n500000\n' >"$tmp/host/mail/.boxquota"
	truncate -s 500001 "$tmp/host/mail/alice"
	truncate -s 500000 "$tmp/host/mail/bob"
	truncate -s 900000 "$tmp/host/mail/carol"
	truncate -s 600000 "$tmp/host/closed/dave" "$tmp/host/open/erin"
	ln -s "$tmp/host/closed/dave" "$tmp/host/mail/dave"
	ln -s "$tmp/host/open/erin" "$tmp/host/mail/erin"
	chmod -R a+rX "$tmp/host"
	chmod 700 "$tmp/host/closed"
}

warning() {
	printf 'info: \\n** WARNING: system mailbox /var/mail/%s is over quota (%s bytes). **\\n' "$1" "$2"
	printf '** Until YOU make it less then 500001 bytes, you will receive NO MORE MAIL. **\\n;'
}
quiet='open: Success;env: SPOOLNAG_SHOWN=pam;close: Success'
unjudged='open: Permission denied;env: unset'
alice=$(warning alice 500001)
logged='log: pam_spoolnag(spoolnag-test:session):'
blind="$logged dave: cannot examine the mailbox (Permission denied), so it counts as empty and the limit is not enforced for it"

# fault CALL ARGS: the change of a case whose SESSION runs under strace with
# ARGS injected into CALL (as strace's -e inject takes them, such as
# retval=1000:when=4). Without strace the case is skipped (77), or failed
# when CI is set.
# shellcheck disable=SC2317 # called by the cases, through eval
fault() {
	if ! command -v strace >/dev/null; then
		[ -z "${CI-}" ] || { echo "FAIL: $name: strace is missing"; return 1; }
		echo "SKIP: $name: no strace"
		return 77
	fi
	# LeakSanitizer cannot run under ptrace: a sanitized session is
	# checked for leaks in every other case.
	wrap="env ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0 strace -f -qq -o /dev/null -e trace=$1 -e inject=$1:$2"
}

fail=0
n=0
# case | change to the sample host | user | options of SESSION | output, lines split at ;
while IFS='|' read -r name change user options want; do
	n=$((n + 1))
	host
	wrap=
	changed=0
	eval "$change" || changed=$?
	[ $changed = 77 ] && continue
	[ $changed = 0 ] || { echo "FAIL: $name: the change failed"; fail=1; continue; }
	# shellcheck disable=SC2086 # the options are split on purpose
	got=$(WRAPPER_LOG=$tmp/log/$n wrap=$wrap unshare -m --propagation private sh -c '
		mount --bind "$1/passwd" /etc/passwd && mount --bind "$1/mail" /var/mail || exit 99
		for node in $3; do mount --bind "/dev/$node" "$2/$node" || exit 99; done
		mount --rbind "$2" /dev || exit 99
		shift 3 && exec $wrap ${SPOOLNAG_WRAPPER:-} "$@"
	' sh "$tmp/host" "$tmp/dev" "$devices" "$session" "$tmp/pam.d" spoolnag-test "$user" $options 2>"$tmp/err")
	status=$?
	want=$(printf "%s\n" "$want" | tr ";" "\n")
	if [ "$got" != "$want" ] || [ $status != 0 ] || [ -s "$tmp/err" ]; then
		echo "FAIL: $name (status $status)"
		printf "%s\n" "--- want:" "$want" "--- got:" "$got"; cat "$tmp/err"
		for f in "$tmp/log/$n".*; do [ -s "$f" ] && cat "$f"; done
		fail=1
	else
		echo "ok: $name"
	fi
done <<EOF
over the limit|:|alice||$alice$quiet
at the limit|:|bob||$quiet
uid below the limited ones|:|carol||$quiet
no such account|:|nobody||$unjudged
no limit file|rm "\$tmp/host/mail/.boxquota"|alice||$quiet
limit file the user cannot read|chmod 600 "\$tmp/host/mail/.boxquota"|alice||$quiet
PAM_SILENT|:|alice|silent|$unjudged
link to a file the user cannot reach|:|dave||$quiet
link to a file the user can reach|:|erin||$(warning erin 600000)$quiet
the conversation fails|:|alice|convfail|$alice$quiet
a new transaction reads the limit anew|:|alice|again-without=/var/mail/.boxquota|$alice$quiet;again:;$quiet
a blind check is logged, once|:|dave|twice log|$quiet;$quiet;$logged unknown option: no-such-option;$blind;$logged unknown option: no-such-option
privileges not regained|fault setfsuid retval=1000:when=4|alice||open: Cannot make/remove an entry for the specified session;env: unset
EOF
exit $fail
