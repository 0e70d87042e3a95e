#!/bin/sh
# SPDX-License-Identifier: ISC
# unpack-debs.sh DEST PACKAGE... - fetches Debian packages and unpacks each
# into DEST/PACKAGE with dpkg -x, for tests that run real servers (sshd,
# Postfix, Exim, Dovecot) from a private folder. Nothing is installed: no maintainer
# script runs, no service starts, the host's package database is untouched.
# A package already unpacked (DEST/PACKAGE/.unpacked) is left as it is.
# Exit 0 when every package is there, 1 otherwise.
set -eu
dest=$1
shift
mkdir -p "$dest/debs"
for pkg in "$@"; do
	[ -e "$dest/$pkg/.unpacked" ] && continue
	(
		cd "$dest/debs"
		rm -f "${pkg}"_*.deb
		apt-get download -q "$pkg" 2>/dev/null ||
			{ apt-get update -qq && apt-get download -q "$pkg"; }
	)
	rm -rf "$dest/$pkg"
	dpkg -x "$dest/debs/${pkg}"_*.deb "$dest/$pkg"
	touch "$dest/$pkg/.unpacked"
done
