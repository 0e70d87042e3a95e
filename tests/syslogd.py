# SPDX-License-Identifier: ISC
# syslogd.py FILE [SOCKET] - a small syslog reader for tests that run
# programs in a private /dev: binds SOCKET (default /dev/log; a datagram
# socket any user may write to, which a test may bind over /dev/log in its
# namespace) and appends every message to FILE, one a line. Runs until it
# is killed; the test that starts it stops it by its pid.
import os
import socket
import sys

s = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
path = sys.argv[2] if len(sys.argv) > 2 else "/dev/log"
s.bind(path)
os.chmod(path, 0o666)
with open(sys.argv[1], "ab", buffering=0) as out:
    while True:
        out.write(s.recv(65536).rstrip(b"\0\n") + b"\n")
