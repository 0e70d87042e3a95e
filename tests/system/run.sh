#!/bin/sh
# SPDX-License-Identifier: ISC
# tests/system/run.sh [MTA...] - the system tests: for each mail server
# (default: postfix exim4), boots a fresh copy of the cached Debian 12 root
# (tests/system/root.sh) with systemd as PID 1 under systemd-nspawn, with no
# network, installs that mail server and the packages built from this tree
# with apt, and runs the package's autopkgtests (debian/tests) inside.
# Works in build-system/. Run as root; exit 0 when every run passed.
# Environment: SPOOLNAG_SYSTEM_CACHE, the folder of the cached root
# (default /var/cache/spoolnag-system, as root.sh).
set -u
cd "$(dirname "$0")/../.."
mtas=${*:-postfix exim4}
work=$PWD/build-system
root=$(sh tests/system/root.sh ${SPOOLNAG_SYSTEM_CACHE:+"$SPOOLNAG_SYSTEM_CACHE"}) || { echo "system: no root" >&2; exit 1; }
rm -rf "$work"
mkdir -p "$work/share/src"
sh scripts/debs.sh "$work/share/debs" > /dev/null || exit 1
cp -r debian "$work/share/src/"
cp tests/system/inside.sh "$work/share/"
failed=0
for mta in $mtas; do
	dir=$work/$mta
	mkdir -p "$dir/out"
	echo "system: $mta: copying the root"
	cp -a "$root" "$dir/root"
	unit=$dir/root/etc/systemd/system/spoolnag-system.service
	cat > "$unit" <<UNIT
[Unit]
Description=spoolnag system tests with $mta
After=multi-user.target
[Service]
Type=exec
ExecStart=/bin/sh /srv/system/inside.sh $mta
UNIT
	ln -s ../spoolnag-system.service "$dir/root/etc/systemd/system/multi-user.target.wants/"
	echo "system: $mta: booting"
	start=$(date +%s)
	timeout -k 10 900 systemd-nspawn -q --register=no --keep-unit -D "$dir/root" \
		--boot --private-network --system-call-filter=bpf \
		--bind-ro="$work/share:/srv/system" --bind="$dir/out:/srv/out" \
		> "$dir/console" 2>&1 < /dev/null &
	pid=$!
	wait $pid
	took=$(( $(date +%s) - start ))
	status=$(cat "$dir/out/status" 2>/dev/null || echo "no status: the container stopped early")
	cat "$dir/out/log" 2>/dev/null | sed -n '/^[a-z-]* *\(PASS\|FAIL\|SKIP\)/p'
	echo "system: $mta: $status (${took}s)"
	case $status in "autopkgtest: exit 0") rm -rf "$dir/root" ;; *) failed=1 ;; esac
done
exit $failed
