#!/bin/sh
# SPDX-License-Identifier: ISC
# run-case.sh BINARY CASEDIR - runs one end-to-end regression case of a
# program that reads /etc/passwd and /var/mail (spoolnag, spoolstat,
# boxpolicy).
#
# A case is a folder of data files:
#   passwd       the password file bound over /etc/passwd
#   passwd-mode  (optional) octal permissions given to that file
#   passwd-fill  (optional) "LINE BYTES": BYTES bytes of lines that are no
#                account (no ':') put after line LINE of passwd, so that the
#                lines after them lie beyond the reader's first block
#   database     (optional) password lines to build the hashed database from
#                with $PWDB; then a folder with passwd, passwd.pag and
#                passwd.dir is bound over /etc instead
#   damage       (optional, with database) one command run with sh in that
#                folder after the build, to damage the database, such as
#                "truncate -s 12000 passwd.pag"
#   boxquota     (optional) the limit configuration, /var/mail/.boxquota
#   mail         (optional) the spool, one entry a line:
#                  NAME SIZE [WHEN]  a mailbox of SIZE bytes (sparse), last
#                                    changed at WHEN (a touch -d date without
#                                    blanks; default 2001-02-03T04:05:06Z),
#                                    owned by the account NAME as delivery
#                                    makes it (by root when there is none)
#                  NAME -> TARGET    a symbolic link, owned by root
#                  NAME = OTHER      a second name of the spool's file OTHER
#                  NAME fifo         a FIFO
#                  mode NAME OCTAL   permissions of NAME (. is the spool)
#                  owner NAME UID    NAME's owner (the group stays root; a
#                                    link's own owner: chown -h)
#   special      (optional) lines "fifo PATH" or "zero PATH": inside the
#                namespace a FIFO (with no writer) or /dev/zero is bound over
#                PATH (such as /etc/passwd or /var/mail/.boxquota); the
#                program then runs under "timeout 30", so that a hang fails
#                the case (status 124)
#   wrapper      (optional) a command put before the program in this case
#                (split at blanks, before SPOOLNAG_WRAPPER), such as strace
#                injecting a fault; LeakSanitizer is then off, as it cannot
#                run under a tracer
#   run          UID GID [ARG...]   who runs the program, and its arguments
#   stdin        (optional) the program's standard input (default /dev/null)
#   stdout, stderr, status          what it must print and exit with
#   syslog       (optional) what it must log: extended regular expressions,
#                one a line, the Nth matching the Nth line the run logged
#                (as syslogd.py writes them: "<PRI>DATE boxpolicy[PID]: ..."),
#                and no more lines; the program then runs with a /dev of its
#                own whose /dev/log is read (devlog.sh)
# The program runs twice, as UID in a private mount namespace with the case's
# files bound over /etc/passwd and /var/mail, with TZ=UTC0, and must answer
# the same both times and leave every file as it was. Needs root: exits 77
# (skipped) without it, unless CI is set, where a skip would hide a missing
# test.
#
# SPOOLNAG_WRAPPER (environment, optional): a command put before the program,
# such as a memory checker or a tracer (split at blanks). It runs as UID in
# the namespace, with WRAPPER_LOG naming a path prefix, outside the bound
# folders, under which it may write its logs; they are shown when the case
# fails. A wrapper reports a fault by changing the exit status.
set -u
bin=$(realpath "$1") case=$(realpath "$2")

. "$(dirname "$0")/skip.sh"
. "$(dirname "$0")/devlog.sh"
need_namespace

tmp=$(mktemp -d) || exit 1
DEVLOG_PID=
trap '[ -n "$DEVLOG_PID" ] && kill "$DEVLOG_PID"; rm -rf "$tmp"' EXIT
chmod 755 "$tmp"
host=$tmp/host
mkdir -p "$host/mail" "$tmp/out"
cp "$case/passwd" "$host/passwd"
if [ -f "$case/passwd-fill" ]; then
	read -r after bytes < "$case/passwd-fill"
	{
		head -n "$after" "$case/passwd"
		awk -v n="$bytes" 'BEGIN { for (; n > 0; n -= 100) printf "%099d\n", n }'
		tail -n +"$((after + 1))" "$case/passwd"
	} > "$host/passwd"
fi
etc=
if [ -f "$case/database" ]; then
	etc=$host/etc
	mkdir "$etc"
	cp "$case/passwd" "$etc/passwd"
	cp /etc/ld.so.cache "$etc/" 2>/dev/null
	cp "$case/database" "$etc/source"
	"${PWDB:?PWDB names the database builder}" "$etc/source" || exit 1
	mv "$etc/source.pag" "$etc/passwd.pag"
	mv "$etc/source.dir" "$etc/passwd.dir"
	rm "$etc/source"
	if [ -f "$case/damage" ]; then
		(cd "$etc" && sh "$case/damage") || exit 1
	fi
fi
[ -f "$case/boxquota" ] && cp "$case/boxquota" "$host/mail/.boxquota"
# The uid of the account $1 in the case's password lines, or nothing.
account_uid() {
	cat "$case/passwd" "$case/database" 2>/dev/null |
		awk -F: -v name="$1" '$1 == name { print $3; exit }'
}
modes= owners= accounts=
if [ -f "$case/mail" ]; then
	while read -r name a b; do
		case "$name" in ''|'#'*) continue ;; esac
		if [ "$name" = mode ]; then modes="$modes $b:$a"; continue; fi
		if [ "$name" = owner ]; then owners="$owners $b:$a"; continue; fi
		mkdir -p "$(dirname "$host/mail/$name")"
		if [ "$a" = '->' ]; then
			ln -s "$b" "$host/mail/$name"
		elif [ "$a" = = ]; then
			ln "$host/mail/$b" "$host/mail/$name"
		elif [ "$a" = fifo ]; then
			mkfifo "$host/mail/$name"
		else
			truncate -s "$a" "$host/mail/$name"
			touch -m -d "${b:-2001-02-03T04:05:06Z}" "$host/mail/$name"
			uid=$(account_uid "$name")
			[ -n "$uid" ] && accounts="$accounts $uid:$name"
		fi
	done < "$case/mail"
fi
chmod -R a+rX "$host"
for m in $modes; do chmod "${m%%:*}" "$host/mail/${m#*:}"; done
for o in $accounts $owners; do chown -h "${o%%:*}" "$host/mail/${o#*:}"; done
[ -f "$case/passwd-mode" ] && chmod "$(cat "$case/passwd-mode")" "$host/passwd"

special= bound=
if [ -f "$case/special" ]; then
	special=$case/special bound="timeout 30"
	mkfifo -m 644 "$tmp/fifo"
	# setpriv looks its ids up by name first, which would read the FIFO or
	# device bound over /etc/passwd: with no name service it takes them as
	# numbers at once.
	printf 'passwd: none\ngroup: none\n' > "$tmp/nsswitch.conf"
	[ -n "$etc" ] && : > "$etc/nsswitch.conf"
fi

snapshot() { (cd "$host" && find . -printf '%p %y %s %m %T@\n' | sort) ; }
snapshot > "$tmp/before"

read -r uid gid args < "$case/run"
stdin=/dev/null
[ -f "$case/stdin" ] && stdin=$case/stdin
mkdir "$tmp/log"
chown "$uid:$gid" "$tmp/log"
wrapper=
if [ -f "$case/wrapper" ]; then
	wrapper=$(cat "$case/wrapper")
	command -v "${wrapper%% *}" > /dev/null || skip "${wrapper%% *} is missing"
	export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
fi
devlog=
if [ -f "$case/syslog" ]; then
	devlog=$tmp/dev
	command -v python3 >/dev/null || skip "python3 is missing"
	devlog_start "$devlog" "$tmp/syslog" || { echo "FAIL: the syslog reader did not start"; exit 1; }
fi
DEVLOG_LIB=$(realpath "$(dirname "$0")/devlog.sh")
export SPOOLNAG_WRAPPER="${SPOOLNAG_WRAPPER:-}" DEVLOG_LIB DEVLOG="$devlog"
for n in 1 2; do
	[ -n "$devlog" ] && : >"$tmp/syslog"
	# shellcheck disable=SC2086 # the case's arguments are split on purpose
	WRAPPER_LOG=$tmp/log/run$n unshare -m --propagation private sh -c '
		if [ -n "$2" ]; then mount --bind "$2" /etc; else mount --bind "$1/passwd" /etc/passwd; fi &&
		mount --bind "$1/mail" /var/mail || exit 99
		if [ -n "$DEVLOG" ]; then . "$DEVLOG_LIB" && devlog_bind "$DEVLOG" || exit 99; fi
		if [ -n "$7" ]; then
			mount --bind "$1/../nsswitch.conf" /etc/nsswitch.conf || exit 99
			while read -r kind path; do
				case $kind in
				fifo) mount --bind "$1/../fifo" "$path" ;;
				zero) mount --bind /dev/zero "$path" ;;
				*) false ;;
				esac || exit 99
			done < "$7"
		fi
		cd / && shift 2 && export TZ=UTC0 &&
		exec $6 setpriv --reuid="$1" --regid="$2" --clear-groups $7 $SPOOLNAG_WRAPPER "$3" ${4:+$4}
	' sh "$host" "$etc" "$uid" "$gid" "$bin" "${args:-}" "$special" "$bound" "$wrapper" \
		< "$stdin" > "$tmp/out/stdout$n" 2> "$tmp/out/stderr$n"
	echo $? > "$tmp/out/status$n"
	if [ -n "$devlog" ]; then
		devlog_wait "$tmp/syslog" "$(wc -l <"$case/syslog")"
		sleep 0.1 # and no more
		cp "$tmp/syslog" "$tmp/out/syslog$n"
	fi
done

fail=0
for n in 1 2; do
	for f in stdout stderr status; do
		want=$case/$f
		[ -f "$want" ] || want=/dev/null
		if ! cmp -s "$want" "$tmp/out/$f$n"; then
			echo "FAIL: $f of run $n differs (want, got):"
			od -c "$want" | head -20
			od -c "$tmp/out/$f$n" | head -20
			fail=1
		fi
	done
	[ -f "$case/syslog" ] || continue
	if [ "$(wc -l <"$case/syslog")" != "$(wc -l <"$tmp/out/syslog$n")" ]; then
		echo "FAIL: run $n logged $(wc -l <"$tmp/out/syslog$n") lines, not $(wc -l <"$case/syslog")"
		fail=1
	fi
	i=0
	while IFS= read -r want; do
		i=$((i + 1))
		got=$(sed -n "${i}p" "$tmp/out/syslog$n")
		printf '%s\n' "$got" | grep -Eq -- "$want" && continue
		echo "FAIL: log line $i of run $n: want /$want/, got [$got]"
		fail=1
	done < "$case/syslog"
done
snapshot > "$tmp/after"
if ! cmp -s "$tmp/before" "$tmp/after"; then
	echo "FAIL: files changed:"; diff "$tmp/before" "$tmp/after"; fail=1
fi
if [ $fail != 0 ]; then
	for f in "$tmp"/log/*; do
		[ -s "$f" ] && { echo "--- ${f#"$tmp"/log/}:"; cat "$f"; }
	done
fi
[ $fail = 0 ] && echo "ok: $(basename "$case")"
exit $fail
