#!/bin/sh
# SPDX-License-Identifier: ISC
# check-trace.sh TRACE - judges an strace log (strace -f -xx, as trace.sh
# makes it) of a program that must write nothing but its messages.
#
# Allowed: the program's start (execve); calls that only look (access, the
# stat family, readlink, getxattr, chdir, ...); opening without O_WRONLY,
# O_RDWR, O_CREAT, O_TRUNC, O_APPEND or O_TMPFILE; writing to descriptors 1
# and 2 only; mapping files privately or read-only. Anything else in the
# trace (creating, renaming, unlinking, truncating, changing modes, owners,
# times or links, writing elsewhere, a shared writable mapping) is a finding,
# attempted or done. A trace without the program's successful start is a
# finding too: a tracer that saw nothing proves nothing.
#
# Prints each finding, its path strings decoded; exit 1 when there is any.
set -u
# Called inside the test namespace, where a case may have its own /etc: the
# awk that /etc/alternatives names may not be there, so take one by its name.
awk=$(command -v mawk || command -v gawk || command -v awk) || exit 2
"$awk" '
function decode(s,   out, i, c) {
	out = ""
	for (i = 1; i <= length(s); i++) {
		c = substr(s, i, 4)
		if (c ~ /^\\x[0-9a-f][0-9a-f]$/ && (tolower(substr(c, 3, 2)) in byte)) {
			out = out byte[tolower(substr(c, 3, 2))]
			i += 3
		} else {
			out = out substr(s, i, 1)
		}
	}
	return out
}
function finding(why) {
	printf "FORBIDDEN (%s): %s\n", why, decode(line)
	found++
}
BEGIN {
	digits = "0123456789abcdef"
	for (i = 32; i < 127; i++)
		byte[substr(digits, int(i / 16) + 1, 1) substr(digits, i % 16 + 1, 1)] = sprintf("%c", i)
	looking = "^(access|faccessat|faccessat2|stat|lstat|fstat|newfstatat|statx|statfs|" \
	          "readlink|readlinkat|getxattr|lgetxattr|listxattr|llistxattr|chdir|getcwd)$"
}
{
	line = $0
	sub(/^[0-9]+ +/, "", line)                   # the pid strace -f puts first
	if (line ~ /^(---|\+\+\+|<\.\.\.)/)
		next                                     # signals, exits, resumptions
	name = line
	sub(/\(.*/, "", name)
	first = line
	sub(/^[^(]*\(/, "", first)
	sub(/[,)].*/, "", first)
	if (name ~ /^execve(at)?$/) {
		if (line ~ /= 0$/)
			started = 1
	} else if (name ~ looking) {
		# only looks
	} else if (name ~ /^(open|openat|openat2)$/) {
		if (line ~ /O_WRONLY|O_RDWR|O_CREAT|O_TRUNC|O_APPEND|O_TMPFILE/)
			finding("opened for writing")
	} else if (name ~ /^(write|writev|pwrite64|pwritev|pwritev2)$/) {
		if (first != "1" && first != "2")
			finding("written other than to standard output or error")
	} else if (name == "mmap") {
		if (line ~ /MAP_SHARED/ && line ~ /PROT_WRITE/)
			finding("shared writable mapping")
	} else {
		finding("changes the file system")
	}
}
END {
	if (!started) {
		print "FORBIDDEN (no trace): the program was never seen starting"
		found++
	}
	exit found > 0
}' "$1"
