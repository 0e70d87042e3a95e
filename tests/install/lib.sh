# SPDX-License-Identifier: ISC
# lib.sh - helpers for the installation tests, sourced by each test script.
#
# Environment (set by CMakeLists.txt): SRC (source tree), BUILD (build tree),
# WORK (a scratch folder of the test's own, emptied here), STAGE (the shared
# installation made by install.prefix). fail/skip end the script; skip exits
# 77, which CTest reports as skipped, except when CI is set: there a test
# that cannot run is a failure.
set -eu
. "$(dirname "$0")/../skip.sh"

fail()
{
	echo "FAIL: $*" >&2
	exit 1
}

# Skips unless this is root and may make a private mount namespace.
need_root_namespace()
{
	need_namespace
	command -v setpriv >/dev/null || skip "setpriv (util-linux) is missing"
}

# expect_eq WHAT EXPECTED ACTUAL
expect_eq()
{
	[ "$2" = "$3" ] || fail "$1: expected [$2], got [$3]"
}

# expect_contains WHAT NEEDLE HAYSTACK
expect_contains()
{
	case $3 in
	*"$2"*) ;;
	*) fail "$1: [$2] not found in [$3]" ;;
	esac
}

# expect_lacks WHAT NEEDLE HAYSTACK
expect_lacks()
{
	case $3 in
	*"$2"*) fail "$1: [$2] must not appear in [$3]" ;;
	esac
}

# The global symbols libboxquota.a defines, sorted, one a line.
archive_exports()
{
	nm -g --defined-only "$1" | awk 'NF == 3 { print $3 }' | sort
}

rm -rf "$WORK"
mkdir -p "$WORK"
