# SPDX-License-Identifier: ISC
"""connection.py ETC MAIL PWDB LOG COMMAND... - one long boxpolicy connection
while the accounts change, the idle timeout for a client that sends
nothing and for one that takes no answers, and the time bound of a request
(-w) for a client that sends a byte at a time, each inside the idle time,
on a local socket and over TCP.

COMMAND runs boxpolicy (with -i 1, and the options given after it) on a
sample host whose /etc is ETC and whose /var/mail is MAIL, logging to the
file LOG (one message a line); this script changes the files in those folders
between requests, as the account tools and pwdb do (a new file renamed into
place, a database rebuilt or removed, a line appended), and checks that
every answer follows the files as they are at that moment, while the limit
stays what it was when the connection began. Prints one "ok:" line per
check; exit status 1 at the first failure.
"""
import os
import re
import socket
import subprocess
import sys
import time

etc, mail, pwdb, log = sys.argv[1:5]
command = sys.argv[5:]
accounts = {
    "root": 0, "nobody": 65534,
    "bob": 1002,  # mailbox 30000: over the limit of 20000
}


def write_passwd(append=None):
    """Writes ETC/passwd anew and renames it into place, or appends a line."""
    if append:
        with open(os.path.join(etc, "passwd"), "a") as f:
            f.write(append)
        return
    new = os.path.join(etc, "passwd.new")
    with open(new, "w") as f:
        for name, uid in accounts.items():
            f.write(f"{name}:x:{uid}:{uid}::/nonexistent:/bin/sh\n")
    os.chmod(new, 0o644)
    os.rename(new, os.path.join(etc, "passwd"))


def build_database():
    subprocess.run([pwdb, os.path.join(etc, "passwd")], check=True)
    for ext in (".pag", ".dir"):
        os.chmod(os.path.join(etc, "passwd" + ext), 0o644)


def remove_database():
    for ext in (".pag", ".dir"):
        os.unlink(os.path.join(etc, "passwd" + ext))


def fail(text):
    print(f"FAIL: {text}")
    sys.exit(1)


class Connection:
    def __init__(self, *options):
        self.p = subprocess.Popen(command + list(options), stdin=subprocess.PIPE,
                                  stdout=subprocess.PIPE)

    def ask(self, login):
        req = ("request=smtpd_access_policy\nprotocol_state=RCPT\n"
               f"recipient={login}@example.org\nsize=0\n\n")
        self.p.stdin.write(req.encode())
        self.p.stdin.flush()
        return self.answer(lambda got: f"connection closed after {got!r}").split("\n")[0]

    def answer(self, closed):
        """The next whole answer (up to its empty line); closed(bytes so far)
        words the failure when the connection ends first."""
        answer = b""
        while not answer.endswith(b"\n\n"):
            piece = self.p.stdout.read1(4096)
            if not piece:
                fail(closed(answer))
            answer += piece
        return answer.decode()

    def end(self, seconds):
        """Waits up to seconds for boxpolicy to end; its exit status."""
        try:
            return self.p.wait(timeout=seconds)
        except subprocess.TimeoutExpired:
            self.p.kill()
            self.p.wait()
            fail(f"still running after {seconds} s")


def check(what, got, want):
    if not got.startswith(want):
        fail(f"{what}: expected {want!r}, got {got!r}")
    print(f"ok: {what}")


OVER, DUNNO = "action=552 5.2.2", "action=DUNNO"
write_passwd()
build_database()
c = Connection()
check("over the limit, from the database", c.ask("bob"), OVER)

accounts["bob"] = 999
write_passwd()
build_database()
check("database rebuilt: bob below the limited uids", c.ask("bob"), DUNNO)

accounts["dan"] = 1005
write_passwd()
build_database()
check("database rebuilt: a new account", c.ask("dan"), OVER)

accounts["dan"] = 998
write_passwd()
remove_database()
check("database removed: the flat file serves", c.ask("dan"), DUNNO)

write_passwd(append="erin:x:1006:1006::/nonexistent:/bin/sh\n")
check("a line appended in place", c.ask("erin"), OVER)

with open(os.path.join(mail, ".boxquota"), "w") as f:
    f.write("1000\n100000\n")
check("the limit stays as the connection began", c.ask("erin"), OVER)
c.p.stdin.close()
status = c.end(30)
if status != 0:
    fail(f"exit status {status} after the client closed")
print("ok: the client closes, exit status 0")

c = Connection()
check("a new connection reads the new limit", c.ask("erin"), DUNNO)
start = time.monotonic()
status = c.end(30)
if status != 0 or c.p.stdout.read() != b"":
    fail(f"idle between requests: exit status {status}")
print(f"ok: idle between requests: dropped after {time.monotonic() - start:.1f} s, status 0")

c = Connection()
c.p.stdin.write(b"request=smtpd_access_policy\nrecipient=bob")
c.p.stdin.flush()
status = c.end(30)
if status != 1 or c.p.stdout.read() != b"":
    fail(f"idle inside a request: exit status {status}")
print("ok: idle inside a request: dropped without an answer, status 1")

# A client on a socket that sends and sends but never reads its answers.
ours, theirs = socket.socketpair()
p = subprocess.Popen(command, stdin=theirs, stdout=theirs)
theirs.close()
ours.setblocking(False)
burst = b"request=smtpd_access_policy\nprotocol_state=RCPT\nrecipient=bob@example.org\n\n" * 100
deadline = time.monotonic() + 30
while p.poll() is None and time.monotonic() < deadline:
    try:
        ours.send(burst)
    except BlockingIOError:
        time.sleep(0.05)
    except OSError:
        break
try:
    status = p.wait(timeout=max(1, deadline - time.monotonic()))
except subprocess.TimeoutExpired:
    p.kill()
    p.wait()
    fail("a client that takes no answers is never dropped")
if status != 1:
    fail(f"a client that takes no answers: exit status {status}")
print("ok: a client that takes no answers: dropped, status 1")


def log_lines():
    with open(log, encoding="utf-8", errors="replace") as f:
        return f.read().splitlines()


def logged_since(count, pattern):
    """Waits up to 2 s for a line after the first count matching pattern."""
    deadline = time.monotonic() + 2
    while True:
        new = log_lines()[count:]
        if any(re.search(pattern, line) for line in new):
            return
        if time.monotonic() > deadline:
            fail(f"no log line /{pattern}/ in {new!r}")
        time.sleep(0.05)


def trickle(send, data, pause):
    """Sends data a byte at a time, pause seconds apart, until it is all
    sent or the other end is gone; the time of the first byte."""
    first = time.monotonic()
    for i in range(len(data)):
        try:
            send(data[i:i + 1])
        except (BrokenPipeError, ConnectionResetError):
            break
        time.sleep(pause)
    return first


REQUEST = (b"request=smtpd_access_policy\nprotocol_state=RCPT\n"
           b"recipient=bob@example.org\nsize=0\n\n")
# -w 3 from the first byte; the upper bound leaves room for a loaded machine
# and valgrind, and is still far from the request's last byte (45 s).
LATEST = 10
SLOW = r"warning: closing the connection without an answer: request not complete within 3 "

def answered(sock, request, end):
    """Sends a whole request and reads its answer, which ends with end: the
    program is up and reading, so that its time can be measured."""
    sock.sendall(request)
    answer = b""
    while not answer.endswith(end):
        got = sock.recv(4096)
        if not got:
            fail(f"connection closed after {answer!r}")
        answer += got


# A policy client on a socket that, after a request answered, sends a byte
# every half second, inside the idle time (-i 1) each time, is dropped 3 s
# (-w 3) after the first byte of its second request, unanswered, and the log
# names it.
ours, theirs = socket.socketpair()
p = subprocess.Popen(command + ["-w", "3"], stdin=theirs, stdout=theirs)
theirs.close()
answered(ours, REQUEST, b"\n\n")
seen = len(log_lines())


def send_or_gone(b):
    if p.poll() is not None:
        raise BrokenPipeError
    ours.sendall(b)


def dropped(p, data, what):
    """Trickles data, a byte each half second, until p ends; p's status and
    the seconds from the first byte."""
    first = trickle(send_or_gone, data, 0.5)
    try:
        status = p.wait(timeout=10)
    except subprocess.TimeoutExpired:
        p.kill()
        p.wait()
        fail(f"{what} that sends a byte at a time is never dropped")
    return status, time.monotonic() - first


status, took = dropped(p, REQUEST, "a client")
ours.setblocking(False)
try:
    answer = ours.recv(4096)
except (BlockingIOError, ConnectionResetError):  # nothing, or a byte unread
    answer = b""
if status != 1 or answer != b"" or not 2.5 <= took <= LATEST:
    fail(f"a slow policy client: status {status}, answer {answer!r}, after {took:.1f} s")
logged_since(seen, SLOW + rf"seconds of its first byte: client=local pid={os.getpid()} uid=0$")
ours.close()
print(f"ok: a slow policy client: dropped {took:.1f} s after its first byte, logged")

# The same for socketmap lookups over TCP, as from boxpolicy.socket (which
# listens on both IPv6 and IPv4): the log names the client's address, as
# IPv4, and port.
try:
    listener = socket.socket(socket.AF_INET6, socket.SOCK_STREAM)
    listener.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_V6ONLY, 0)
    listener.bind(("::", 0))
except OSError:  # no IPv6 here
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
listener.listen(1)
ours = socket.create_connection(("127.0.0.1", listener.getsockname()[1]))
theirs, _ = listener.accept()
listener.close()
p = subprocess.Popen(command + ["-w", "3"], stdin=theirs, stdout=theirs)
theirs.close()
answered(ours, b"12:boxquota bob,", b",")
seen = len(log_lines())
status, took = dropped(p, b"12:boxquota bob,", "a lookup client")
try:
    answer = ours.recv(4096)
except ConnectionResetError:  # a byte was still on its way when it closed
    answer = b""
if status != 1 or answer != b"" or not 2.5 <= took <= LATEST:
    fail(f"a slow lookup client: status {status}, answer {answer!r}, after {took:.1f} s")
port = ours.getsockname()[1]
logged_since(seen, SLOW + rf"seconds of its first byte: client=127\.0\.0\.1:{port}$")
ours.close()
print(f"ok: a slow lookup client over TCP: dropped {took:.1f} s after its first byte, logged")

# The bound is per request: requests that each take 1 s, one after the
# other, are all answered under -w 2 (bob is no longer limited by now).
c = Connection("-w", "2")


def write_or_gone(b):
    try:
        c.p.stdin.write(b)
        c.p.stdin.flush()
    except BrokenPipeError:  # dropped: answer() says so
        pass


for n in range(3):
    piece = len(REQUEST) // 4 + 1
    for i in range(0, len(REQUEST), piece):
        write_or_gone(REQUEST[i:i + piece])
        time.sleep(0.25)
    answer = c.answer(lambda _: f"request {n + 1} of 1 s each under -w 2: connection closed")
    check(f"request {n + 1} of 1 s under -w 2: answered", answer, DUNNO)
c.p.stdin.close()
if c.end(10) != 0:
    fail("requests of 1 s each: the connection did not end with status 0")
