#!/bin/sh
# SPDX-License-Identifier: ISC
# install.manpages - every manual page in the tree, found by its name
# (NAME.SECTION, any folder), renders without a single warning: mandoc's
# lint at level warning (warnings and errors fail; style notes such as an
# unknown cross-reference or the explicit .Os are left alone), groff's mdoc
# macros with all warnings on, and man -l. Each names itself as its file
# does and is installed, compressed, where man finds it; the installed
# copies render too.
. "$(dirname "$0")/lib.sh"

command -v mandoc >/dev/null || skip "mandoc is missing (scripts/setup.sh installs it)"
export MANWIDTH=80 LC_ALL=C.UTF-8

# Build and cache folders hold no pages of ours; everything else is searched.
pages=$(cd "$SRC" && find . \( -name '.*' ! -name . -o -name 'build*' \) -prune -o \
	-type f -name '*.[1-9]' -print | sed 's|^\./||' | sort)
[ -n "$pages" ] || fail "no manual pages found under $SRC"

for page in $pages; do
	src=$SRC/$page
	name=${page##*/}
	section=${name##*.}
	title=$(echo "${name%.*}" | tr '[:lower:]' '[:upper:]')

	expect_eq "$page: .Dt" ".Dt $title $section" "$(grep '^\.Dt ' "$src")"
	grep -q '^\.Sh NAME$' "$src" || fail "$page: no NAME section"

	lint=$(mandoc -T lint -W warning "$src" 2>&1) || fail "$page: mandoc lint: $lint"
	expect_eq "$page: mandoc lint" "" "$lint"

	warnings=$(groff -ww -z -mandoc "$src" 2>&1) || fail "$page: groff failed"
	expect_eq "$page: groff -ww warnings" "" "$warnings"

	text=$(man --warnings=w -P cat -l "$src" 2>"$WORK/man.err") ||
		fail "$page: man -l failed"
	expect_eq "$page: man -l warnings" "" "$(cat "$WORK/man.err")"
	expect_contains "$page: rendered header" "$title($section)" "$text"

	# The PAM module and the Dovecot backend, and so their pages, are left
	# out of a build without their headers.
	[ "$page" != pam/pam_spoolnag.8 ] || [ "$HAVE_PAM" = 1 ] || continue
	[ "$page" != dovecot/dovecot-boxquota.7 ] || [ "$HAVE_DOVECOT" = 1 ] || continue
	[ -f "$STAGE/share/man/man$section/$name.gz" ] ||
		fail "$page: not installed as share/man/man$section/$name.gz"
done

for gz in "$STAGE"/share/man/man*/*.gz; do
	man --warnings=w -P cat -l "$gz" >/dev/null 2>"$WORK/man.err" ||
		fail "installed $gz does not render"
	expect_eq "installed $gz: warnings" "" "$(cat "$WORK/man.err")"
done
echo "rendered cleanly: $(echo "$pages" | tr "\n" " ")"
