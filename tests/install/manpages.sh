#!/bin/sh
# SPDX-License-Identifier: ISC
# install.manpages - every manual page renders without a single warning, with
# groff's mdoc macros (all warnings on) and through man -l, and names itself
# as its file does; the installed, compressed copies render too. mandoc's
# stricter lint runs where mandoc is installed.
. "$(dirname "$0")/lib.sh"

export MANWIDTH=80 LC_ALL=C.UTF-8
pages="check/spoolnag.1 limit/boxquota.3 limit/boxquota.5 pwdb/pwdb.8 policy/boxpolicy.8"
[ "$HAVE_PAM" != 1 ] || pages="$pages pam/pam_spoolnag.8"
for page in $pages; do
	src=$SRC/$page
	name=${page#*/}
	title=$(echo "${name%.*}" | tr '[:lower:]' '[:upper:]')

	expect_eq "$page: .Dt" ".Dt $title ${name##*.}" "$(grep '^\.Dt ' "$src")"
	grep -q '^\.Sh NAME$' "$src" || fail "$page: no NAME section"

	warnings=$(groff -ww -z -mandoc "$src" 2>&1) || fail "$page: groff failed"
	expect_eq "$page: groff -ww warnings" "" "$warnings"

	text=$(man --warnings=w -P cat -l "$src" 2>"$WORK/man.err") ||
		fail "$page: man -l failed"
	expect_eq "$page: man -l warnings" "" "$(cat "$WORK/man.err")"
	expect_contains "$page: rendered header" "$title(${name##*.})" "$text"

	if command -v mandoc >/dev/null; then
		lint=$(mandoc -Tlint -W warning "$src" 2>&1 || true)
		expect_eq "$page: mandoc lint" "" "$lint"
	fi
done

for gz in "$STAGE"/share/man/man*/*.gz; do
	man --warnings=w -P cat -l "$gz" >/dev/null 2>"$WORK/man.err" ||
		fail "installed $gz does not render"
	expect_eq "installed $gz: warnings" "" "$(cat "$WORK/man.err")"
done
echo "rendered cleanly: $pages"
