#!/bin/sh
# SPDX-License-Identifier: ISC
# tests/system/inside.sh MTA - run by spoolnag-system.service inside the
# booted container: waits for the boot to finish, installs the mail server
# MTA (postfix or exim4) as an administrator would, with Debian's default
# answers, then runs the package's autopkgtests against the packages built
# from the tree with autopkgtest's null runner. Writes the log and the
# exit status to /srv/out, then powers the container off.
set -u
mta=$1
out=/srv/out
exec > "$out/log" 2>&1
finish() {
	echo "$1" > "$out/status"
	systemctl poweroff --no-block
	exit 0
}
systemctl is-system-running --wait
systemctl --failed --no-legend
export DEBIAN_FRONTEND=noninteractive
# The container has no network: apt takes every package from its cache.
apt-get install -y -q --no-download "$mta" || finish "install $mta: failed"
autopkgtest --output-dir "$out/autopkgtest" --ignore-restrictions=breaks-testbed -B \
	/srv/system/debs/*.deb /srv/system/src/ -- null
finish "autopkgtest: exit $?"
