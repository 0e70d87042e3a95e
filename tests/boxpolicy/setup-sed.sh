#!/bin/sh
# SPDX-License-Identifier: ISC
# setup-sed.sh SRC - the command that puts the Exim router example into
# Debian's one-file configuration, as an administrator pastes it: from
# boxpolicy(8) as man renders it, and from the README. Each runs on a copy
# of Debian's exim4.conf.template (the exim4-config package that
# scripts/setup.sh unpacks into .cache/debs; without it, a template of the
# routers around the marker), with the two paths it names pointed at the
# copy and at SRC/policy; the router must follow the end of the userforward
# router, once, and nothing else change.
set -u
src=$1
. "$(dirname "$0")/../skip.sh"
command -v man > /dev/null || skip "man is missing"
tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
marker='### end router/600_exim4-config_userforward'
template=$src/.cache/debs/exim4-config/etc/exim4/exim4.conf.template
if [ ! -f "$template" ]; then
	template=$tmp/sample.template
	printf 'userforward:\n  driver = redirect\n%s\n\nprocmail:\n' "$marker" > "$template"
fi
[ "$(grep -cxF "$marker" "$template")" = 1 ] || fail "$template: the marker is not there once"
# What the template must become: the router right after the marker.
awk -v m="$marker" -v r="$src/policy/exim4-boxpolicy.router" \
	'{ print } $0 == m { while ((getline l < r) > 0) print l }' "$template" > "$tmp/want"

# try WHERE COMMAND: runs COMMAND, as shown in WHERE, on a fresh copy.
try() {
	[ -n "$2" ] || { fail "$1: no sed command for exim4.conf.template"; return; }
	cp "$template" "$tmp/exim4.conf.template"
	cmd=$(printf '%s\n' "$2" | sed -e "s|/usr/share/doc/spoolnag/examples/|$src/policy/|g" \
		-e "s|/etc/exim4/|$tmp/|g")
	if ! (cd "$tmp" && sh -c "$cmd"); then
		fail "$1: the command failed: $2"
	elif ! cmp -s "$tmp/exim4.conf.template" "$tmp/want"; then
		fail "$1: the router is not right after the marker: $(diff "$tmp/want" "$tmp/exim4.conf.template" | head -n 5)"
	else
		echo "ok: $1"
	fi
}

# Wide enough that no line of the page is broken; a display line of the
# page is one line of the command.
page=$(MANWIDTH=300 LC_ALL=C.UTF-8 man -P cat -l "$src/policy/boxpolicy.8") || fail "man -l failed"
try "boxpolicy(8)" "$(printf '%s\n' "$page" | sed -n 's/^ *\(sed -i .*exim4-boxpolicy\.router.*\)$/\1/p')"
# The README's, in its code block, continued over lines ending in "\".
try README "$(awk '/^sed -i .*exim4-boxpolicy\.router/ { on = 1 } on { print; if (!/\\$/) exit }' \
	"$src/README.md")"
[ "$failures" = 0 ] || exit 1
