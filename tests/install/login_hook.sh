#!/bin/sh
# SPDX-License-Identifier: ISC
# install.login-hook - the installed /etc/profile.d snippet, sourced as a
# login shell sources it (dash and bash): it parses as POSIX sh; it runs
# spoolnag only for an interactive shell writing to a terminal, without
# ~/.hushlogin, with the program present and SPOOLNAG_SHOWN unset (the PAM
# module has not checked already); it never shows the program's
# errors, never fails or ends the shell and leaves no variable behind.
# Installs into a prefix of its own and puts a fake spoolnag in its bin, the
# very path the installed hook names; a pseudo-terminal comes from script(1).
. "$(dirname "$0")/lib.sh"

command -v script >/dev/null || skip "script (util-linux) is missing"
prefix=$WORK/prefix
cmake --install "$BUILD" --prefix "$prefix" >"$WORK/install.log" ||
	fail "cmake --install failed: $(cat "$WORK/install.log")"
hook=$prefix/etc/profile.d/spoolnag.sh
fake=$prefix/bin/spoolnag

for check in "sh -n" "dash -n" "bash --posix -n"; do
	$check "$hook" || fail "$check rejects the hook"
done

mark=$WORK/ran
home=$WORK/home
mkdir -p "$home"
cat >"$fake" <<EOF2
#!/bin/sh
echo ran >>"$mark"
echo "spoolnag says hello"
echo "spoolnag complains" >&2
exit \${FAKE_STATUS:-0}
EOF2
chmod 755 "$fake"

export HOME="$home"

# run SHELL MODE CODE: runs the sh code CODE in SHELL (a command line:
# "dash", "bash", "dash -eu", ...) interactive or not, with standard output
# on a terminal or a pipe; prints what the shell wrote there, CRs removed.
run()
{
	printf '%s\n' "$3" >"$WORK/code.sh"
	sh=$(echo "$1" | sed 's/^bash/bash --norc --noprofile/; s/ bash$/ bash --norc --noprofile/')
	case $2 in
	*-interactive) sh="$sh -i" ;;
	esac
	inner="$sh -c '. \"\$0\"' '$WORK/code.sh'"
	case $2 in
	tty-*) SHELL=/bin/sh script -qec "$inner" /dev/null ;;
	pipe-*) sh -c "$inner" 2>/dev/null | cat ;;
	esac </dev/null | tr -d '\r'
}

source_hook=". '$hook'; echo after=\$?; echo alive"

# case: name | mode | setup | expected runs of spoolnag
for shell in dash bash; do
	while IFS='|' read -r name mode setup runs; do
		rm -f "$mark" "$home/.hushlogin"
		chmod 755 "$fake"
		eval "$setup"
		out=$(run "$shell" "$mode" "$source_hook")
		unset FAKE_STATUS SPOOLNAG_SHOWN
		what="$shell, $name"
		got=0
		[ ! -f "$mark" ] || got=$(wc -l <"$mark")
		expect_eq "$what: times spoolnag ran" "$runs" "$got"
		expect_contains "$what: status after sourcing" "after=0" "$out"
		expect_contains "$what: shell goes on" "alive" "$out"
		expect_lacks "$what: program's errors" "complains" "$out"
		expect_lacks "$what: shell errors" "not found" "$out"
		if [ "$runs" = 1 ]; then
			expect_contains "$what: program's output" "spoolnag says hello" "$out"
		else
			expect_lacks "$what: program's output" "hello" "$out"
		fi
	done <<'CASES'
interactive login on a terminal|tty-interactive|:|1
program fails|tty-interactive|export FAKE_STATUS=3|1
stdout is a pipe (scp, sftp, rsync)|pipe-interactive|:|0
not interactive|tty-plain|:|0
~/.hushlogin exists|tty-interactive|: >"$home/.hushlogin"|0
program removed|tty-interactive|chmod 644 "$fake"|0
the PAM module has checked|tty-interactive|export SPOOLNAG_SHOWN=pam|0
CASES
done

# Under set -eu and without HOME the hook still runs the check and returns.
rm -f "$mark"
chmod 755 "$fake"
out=$(run "env -u HOME dash -eu" tty-interactive "$source_hook")
expect_contains "set -eu, HOME unset" "alive" "$out"
expect_eq "set -eu, HOME unset: times spoolnag ran" 1 "$(wc -l <"$mark")"

# Nothing is left behind: the shell's variables (and bash's functions) are
# the same before and after sourcing.
snapshot="{ set; typeset -f; } 2>/dev/null | grep -Ev '^(_|BASH_[A-Z_]*|LINENO|COLUMNS|LINES|PIPESTATUS|FUNCNAME)='"
for shell in dash bash; do
	rm -f "$WORK/before" "$WORK/after"
	out=$(run "$shell" tty-interactive "$snapshot >'$WORK/before'; . '$hook'; $snapshot >'$WORK/after'")
	[ -s "$WORK/before" ] || fail "$shell: no snapshot taken ($out)"
	diff -u "$WORK/before" "$WORK/after" >"$WORK/diff" ||
		fail "$shell: sourcing changed the shell's state: $(cat "$WORK/diff")"
done
echo "login hook behaves in dash and bash"
