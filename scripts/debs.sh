#!/bin/sh
# SPDX-License-Identifier: ISC
# scripts/debs.sh [OUTDIR] - builds the Debian packages (spoolnag,
# libboxquota-dev, libpam-spoolnag, dovecot-boxquota) from debian/ with dpkg-buildpackage, in
# a copy of the source tree (the tracked files as they are now, edits
# included), so the tree itself stays clean. The .deb files land in OUTDIR
# (default build-deb/). No root needed.
# Environment: SPOOLNAG_MAINTAINER overrides the Maintainer field.
set -eu
cd "$(dirname "$0")/.."
out=${1:-build-deb}
mkdir -p "$out"
out=$(cd "$out" && pwd)
src=$out/src/spoolnag
rm -rf "$out/src" "$out"/*.deb "$out"/*.ddeb "$out"/*.changes "$out"/*.buildinfo
mkdir -p "$src"
git ls-files -z --cached --others --exclude-standard |
	xargs -0 sh -c 'for f; do [ -e "$f" ] && printf "%s\0" "$f"; done' sh |
	tar -c --null -T - | tar -x -C "$src"
(cd "$src" && dpkg-buildpackage -b -us -uc -j2) > "$out/build.log" 2>&1 || {
	tail -n 40 "$out/build.log"
	echo "debs: dpkg-buildpackage failed; the log is $out/build.log" >&2
	exit 1
}
mv "$out"/src/*.deb "$out"/src/*.changes "$out"/src/*.buildinfo "$out"/
rm -f "$out"/src/*.ddeb
ls "$out"/*.deb
