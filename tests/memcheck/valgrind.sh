#!/bin/sh
# SPDX-License-Identifier: ISC
# valgrind.sh PROGRAM [ARG...] - runs PROGRAM under valgrind's memcheck with
# the project's settings: any invalid access, use of an undefined value, or a
# definitely or indirectly lost block is an error, and an error makes the
# exit status 86 (so a test comparing statuses fails). The report goes to
# WRAPPER_LOG.<pid> when WRAPPER_LOG is set (tests/run-case.sh sets
# it), else to standard error.
#
# valgrind.sh --options prints the settings, for ctest -T memcheck.
here=$(cd "$(dirname "$0")" && pwd)
options="--tool=memcheck --leak-check=full --show-leak-kinds=definite,indirect
	--errors-for-leak-kinds=definite,indirect --error-exitcode=86
	--track-origins=yes --suppressions=$here/valgrind.supp"
if [ "${1:-}" = --options ]; then
	echo $options
	exit 0
fi
# shellcheck disable=SC2086 # the options are split on purpose
if [ -n "${WRAPPER_LOG:-}" ]; then
	exec valgrind -q $options --log-file="$WRAPPER_LOG.%p" "$@"
fi
exec valgrind -q $options "$@"
