#!/bin/sh
# SPDX-License-Identifier: ISC
# Installs what the build needs on Debian 12, builds into build/, and runs
# spoolnag for the caller. Run as root (or with sudo) on a fresh machine;
# later runs only rebuild.
set -eu
cd "$(dirname "$0")/.."

# The Debian packages are built with debhelper and checked with lintian
# (second line). The second line is also for scripts/test.sh: the fuzz build (clang and its
# sanitizer and libFuzzer runtimes, llvm for readable stack traces), memory
# checking, and the static checks. The third is for the PAM module and its
# login test through a real sshd: the client, the shells logged into, and
# the libraries of the server, which is only unpacked (below); and Dovecot's
# headers for its quota backend (dovecot-dev depends on nothing: no server). The two
# after it are for the tests that run boxpolicy with the real mail servers:
# the tools that set up their namespaces and talk SMTP, and the libraries
# the unpacked Postfix and Exim need (the servers themselves are never
# installed here). The last line boots a Debian 12 container for the
# system tests (tests/system/): systemd-nspawn, and mmdebstrap, which makes
# its root; the packages are installed only inside it.
packages="build-essential cmake ninja-build pkg-config libgtest-dev libgmock-dev
	libgdbm-compat-dev libgdbm-dev util-linux strace libbenchmark-dev
	dpkg-dev file groff-base man-db mandoc debhelper lintian
	clang libclang-rt-14-dev llvm valgrind clang-tidy clang-format cppcheck
	libpam0g-dev openssh-client zsh iproute2 libwrap0 dovecot-dev
	python3 systemd
	libsasl2-2 libicu72 libnsl2 libdb5.3 libssl3 libidn12 libgnutls-dane0 libpcre2-8-0
	systemd-container mmdebstrap"
missing=
for p in $packages; do
	dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing="$missing $p"
done
if [ -n "$missing" ]; then
	echo "setup: installing:$missing"
	apt-get update -qq
	DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $missing
fi

# The servers of the login and mail tests (and Exim's configuration, whose
# template the set-up command of boxpolicy(8) is tried on), unpacked into
# .cache/debs, never installed: no maintainer script runs and no service
# starts on this machine (Debian's packages of Postfix and Exim conflict,
# and neither may run here; Dovecot needs no library beyond those above but
# the Lua and text-category ones of modules the tests never load).
sh scripts/unpack-debs.sh .cache/debs openssh-server openssh-sftp-server \
	postfix exim4-base exim4-daemon-light exim4-config \
	dovecot-core dovecot-imapd dovecot-lmtpd

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build -j "$(nproc)"

echo "setup: spoolnag for $(id -un) (silence means the mailbox is within the limit):"
build/check/spoolnag || true

# A guided look at spoolnag on a sample host (root only; harmless otherwise).
scripts/demo.sh build
