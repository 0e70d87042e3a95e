# SPDX-License-Identifier: ISC
"""mailclient.py imap PORT -- STEP...    (IMAP on 127.0.0.1:PORT)
mailclient.py lmtp SOCKET -- STEP...  (LMTP on a Unix socket)

One session, step by step, printing one line per step: the step, " -> ",
then the server's reply lines joined with " / ". Steps:

  login:USER:PASSWORD   IMAP LOGIN
  quota                 IMAP GETQUOTAROOT INBOX
  mail:FROM             LMTP MAIL FROM:<FROM> (LHLO is said on connecting)
  rcpt:TO               LMTP RCPT TO:<TO>
  data:BYTES:MARK       LMTP DATA, a message of BYTES bytes (line ends
                        counted as CRLF) whose subject holds MARK; one
                        reply per accepted recipient
  rset                  LMTP RSET
  sh:COMMAND            runs COMMAND with sh -c while the session stays
                        open; its exit status is the reply

The session ends with LOGOUT or QUIT. Exit status 0 when it ran, 1 when it
broke off. The classes are the bench's client too (bench/dovecot.sh).
"""
import socket
import subprocess
import sys


class Session:
    """A line-based session on a connected socket."""

    def __init__(self, sock):
        self.sock = sock
        self.file = sock.makefile("rb")

    def send(self, line):
        self.sock.sendall(line.encode() + b"\r\n")

    def line(self):
        text = self.file.readline()
        if not text:
            raise EOFError("connection closed")
        return text.decode(errors="replace").rstrip("\r\n")


class IMAP(Session):
    def __init__(self, port, host="127.0.0.1"):
        super().__init__(socket.create_connection((host, port), 10))
        self.tag = 0
        self.line()

    def command(self, text):
        """Sends a tagged command; returns every line up to its tagged reply."""
        self.tag += 1
        tag = f"a{self.tag}"
        self.send(f"{tag} {text}")
        lines = []
        while True:
            lines.append(self.line())
            if lines[-1].startswith(tag + " "):
                return lines


class LMTP(Session):
    def __init__(self, path):
        sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        sock.settimeout(10)
        sock.connect(path)
        super().__init__(sock)
        self.recipients = 0
        self.reply()
        self.command("LHLO client.example.org")

    def reply(self):
        lines = [self.line()]
        while lines[-1][3:4] == "-":
            lines.append(self.line())
        return " / ".join(lines)

    def command(self, text):
        self.send(text)
        answer = self.reply()
        if text.startswith("RCPT") and answer.startswith("2"):
            self.recipients += 1
        elif text.startswith(("MAIL", "RSET")):
            self.recipients = 0
        return answer

    def data(self, size, mark):
        """The message after DATA: one reply per accepted recipient."""
        answer = self.command("DATA")
        if not answer.startswith("354"):
            return answer
        self.sock.sendall(message(size, mark) + b".\r\n")
        return " / ".join(self.reply() for _ in range(self.recipients))


def message(size, mark):
    head = f"From: sender@example.net\r\nSubject: {mark}\r\n\r\n"
    left = max(0, size - len(head))
    body = []
    while left > 0:
        line = "x" * max(0, min(76, left - 2))
        body.append(line + "\r\n")
        left -= len(line) + 2
    return (head + "".join(body)).encode()


def step(session, text):
    word, _, rest = text.partition(":")
    if word == "sh":
        return str(subprocess.run(["sh", "-c", rest], check=False).returncode)
    if word == "login":
        user, _, password = rest.partition(":")
        return " / ".join(session.command(f'LOGIN "{user}" "{password}"'))
    if word == "quota":
        return " / ".join(session.command("GETQUOTAROOT INBOX"))
    if word == "mail":
        return session.command(f"MAIL FROM:<{rest}>")
    if word == "rcpt":
        return session.command(f"RCPT TO:<{rest}>")
    if word == "data":
        size, _, mark = rest.partition(":")
        return session.data(int(size), mark)
    if word == "rset":
        return session.command("RSET")
    raise ValueError(f"unknown step: {text}")


def main(argv):
    if len(argv) < 4 or argv[1] not in ("imap", "lmtp") or argv[3] != "--":
        print(__doc__, file=sys.stderr)
        return 64
    try:
        session = IMAP(int(argv[2])) if argv[1] == "imap" else LMTP(argv[2])
        for text in argv[4:]:
            print(f"{text} -> {step(session, text)}", flush=True)
        session.send("a0 LOGOUT" if argv[1] == "imap" else "QUIT")
    except (OSError, EOFError) as e:
        print(f"mailclient: {e}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
