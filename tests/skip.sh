# SPDX-License-Identifier: ISC
# skip.sh - sourced by the test scripts that need what not every machine
# gives them (root, namespaces, an unpacked server).
#
# skip REASON   ends the test with 77, which CTest reports as skipped; when
#               CI is set it fails instead (status 1), since a skip there
#               would hide a test that never ran.
# need_namespace [FLAGS]   skips unless this is root and unshare can make the
#               namespaces FLAGS name (default -m: a private mount namespace).
skip()
{
	if [ -n "${CI-}" ]; then
		echo "FAIL: $* (CI is set, so this cannot be skipped)"
		exit 1
	fi
	echo "SKIP: $*"
	exit 77
}

need_namespace()
{
	[ "$(id -u)" = 0 ] || skip "needs root for private namespaces"
	unshare "${@:--m}" --propagation private true 2>/dev/null ||
		skip "cannot make private namespaces (unshare ${*:--m})"
}
