#!/bin/sh
# SPDX-License-Identifier: ISC
# tests/system/root.sh [CACHE] - the Debian 12 root the system tests boot
# with systemd-nspawn: a minimal system with systemd as PID 1, adduser,
# openssh and autopkgtest installed, and the packages installed only later,
# inside the booted container (Postfix, Exim, Dovecot's IMAP and LMTP
# servers, the project's dependencies), already downloaded into its apt
# cache, so that the container needs no network. Built with mmdebstrap
# from the host's apt sources into CACHE/root (default
# /var/cache/spoolnag-system); rebuilt only when it is missing, older than
# 30 days (security updates), or made by another version of this recipe.
# Prints the root's path. Run as root.
set -eu
cache=${1:-/var/cache/spoolnag-system}
recipe=$(sha256sum "$0" | cut -d' ' -f1)
root=$cache/root
if [ -f "$cache/recipe" ] && [ "$(cat "$cache/recipe")" = "$recipe" ] &&
	[ -z "$(find "$cache/recipe" -mtime +30)" ]; then
	echo "$root"
	exit 0
fi
mkdir -p "$cache"
rm -rf "$root" "$root.new" "$cache/recipe"
sources=/etc/apt/sources.list.d/debian.sources
[ -f "$sources" ] || sources=/etc/apt/sources.list
# Installed in the root: what boots and what every test uses. Downloaded
# only: the two mail servers, installed by the stage inside the container,
# one per container, as an administrator would with apt-get, and Dovecot,
# which the tests that need it install.
mmdebstrap --variant=minbase --mode=root --skip=cleanup/apt \
	--include=systemd,systemd-sysv,dbus,libpam-systemd,adduser,passwd,openssh-server,openssh-client,zsh,autopkgtest,python3,procps,dpkg-dev,libgdbm6,libgdbm-compat4,libpam-runtime \
	--customize-hook='chroot "$1" apt-get install -y -qq -o APT::Install-Recommends=true --download-only postfix' \
	--customize-hook='chroot "$1" apt-get install -y -qq -o APT::Install-Recommends=true --download-only exim4' \
	--customize-hook='chroot "$1" apt-get install -y -qq -o APT::Install-Recommends=true --download-only dovecot-imapd dovecot-lmtpd' \
	--customize-hook='echo spoolnag-system > "$1/etc/hostname"' \
	bookworm "$root.new" "$sources" >&2
mv "$root.new" "$root"
echo "$recipe" > "$cache/recipe"
echo "$root"
