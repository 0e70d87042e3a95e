# SPDX-License-Identifier: ISC
"""connection.py ETC MAIL PWDB COMMAND... - one long boxpolicy connection
while the accounts change, and the idle timeout for a client that sends
nothing and for one that takes no answers.

COMMAND runs boxpolicy (with -i 1) on a sample host whose /etc is ETC and
whose /var/mail is MAIL; this script changes the files in those folders
between requests, as the account tools and pwdb do (a new file renamed into
place, a database rebuilt or removed, a line appended), and checks that
every answer follows the files as they are at that moment, while the limit
stays what it was when the connection began. Prints one "ok:" line per
check; exit status 1 at the first failure.
"""
import os
import socket
import subprocess
import sys
import time

etc, mail, pwdb = sys.argv[1:4]
command = sys.argv[4:]
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
    def __init__(self):
        self.p = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE)

    def ask(self, login):
        req = ("request=smtpd_access_policy\nprotocol_state=RCPT\n"
               f"recipient={login}@example.org\nsize=0\n\n")
        self.p.stdin.write(req.encode())
        self.p.stdin.flush()
        answer = b""
        while not answer.endswith(b"\n\n"):
            piece = self.p.stdout.read1(4096)
            if not piece:
                fail(f"connection closed after {answer!r}")
            answer += piece
        return answer.decode().split("\n")[0]

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
