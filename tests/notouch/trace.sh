#!/bin/sh
# SPDX-License-Identifier: ISC
# trace.sh PROGRAM [ARG...] - runs PROGRAM, and every process it starts,
# under strace, and fails unless it left the file system alone: the trace
# goes to WRAPPER_LOG.trace, check-trace.sh judges it, and its findings go to
# WRAPPER_LOG.report. Exit: the program's status when the trace is clean,
# else 125. Used as SPOOLNAG_WRAPPER by the no-write tests.
set -u
here=$(cd "$(dirname "$0")" && pwd)
log=${WRAPPER_LOG:?WRAPPER_LOG names where the trace goes}

# Every call that takes a path, every call that writes through a descriptor,
# and the calls that change a file's size, mode, owner or name through one.
calls=%file,write,writev,pwrite64,pwritev,pwritev2,sendfile,splice,tee,copy_file_range
calls=$calls,ftruncate,fallocate,fchmod,fchown,fsetxattr,fremovexattr,mmap

strace -f -qq -xx -o "$log.trace" -e trace="$calls" "$@"
status=$?
sh "$here/check-trace.sh" "$log.trace" > "$log.report" 2>&1 || exit 125
exit $status
