# SPDX-License-Identifier: ISC
# devlog.sh - sourced by end-to-end drivers that read what a program logs:
# a /dev of the test's own whose /dev/log is the socket of syslogd.py.
#
#   devlog_start DIR FILE   (outside the namespace) makes DIR, the skeleton
#                           of a /dev, starts syslogd.py on DIR/log writing
#                           to FILE and waits for its socket; its pid in
#                           DEVLOG_PID, for the caller to stop
#   devlog_bind DIR         (inside a private mount namespace, as root)
#                           binds the host's null, zero, full, random,
#                           urandom and tty into DIR and DIR over /dev
#   devlog_wait FILE COUNT  waits up to 5 s for FILE to hold COUNT lines
#                           (messages arrive after their sender may end)
# syslogd.py is beside this file, in the tests folder the sourcing script
# is in or under.
devlog_here=$(cd "$(dirname "$0")" && pwd)
while [ ! -f "$devlog_here/syslogd.py" ] && [ "$devlog_here" != / ]; do
	devlog_here=$(dirname "$devlog_here")
done

devlog_start()
{
	mkdir -p "$1" || return 1
	for devlog_node in null zero full random urandom tty; do : >"$1/$devlog_node"; done
	ln -sf /proc/self/fd "$1/fd"
	: >"$2"
	python3 "$devlog_here/syslogd.py" "$2" "$1/log" &
	# shellcheck disable=SC2034 # for the caller
	DEVLOG_PID=$!
	devlog_n=0
	while [ ! -S "$1/log" ] && [ $devlog_n -lt 100 ]; do sleep 0.05; devlog_n=$((devlog_n + 1)); done
	[ -S "$1/log" ]
}

devlog_bind()
{
	for devlog_node in null zero full random urandom tty; do
		mount --bind "/dev/$devlog_node" "$1/$devlog_node" || return 1
	done
	mount --rbind "$1" /dev
}

devlog_wait()
{
	devlog_n=0
	while [ "$(wc -l <"$1")" -lt "$2" ] && [ $devlog_n -lt 100 ]; do sleep 0.05; devlog_n=$((devlog_n + 1)); done
}
