# SPDX-License-Identifier: ISC
"""smtp.py PORT [ADDRESS] -- STEP... - one SMTP session, step by step.
smtp.py --run COMMAND [ARG...] -- STEP...

Connects to ADDRESS (default 127.0.0.1) at PORT, or runs COMMAND with its
standard input and output on a socket (a server speaking SMTP there, such
as exim -bs), says EHLO, then runs each
STEP and prints one line per step: the step, then the server's reply code
and text (continuation lines joined with " / "). Steps:

  mail:FROM[:SIZE]   MAIL FROM:<FROM>, with SIZE=SIZE when given
  rcpt:TO            RCPT TO:<TO>
  data:BYTES:MARK    DATA, then a message of about BYTES bytes whose subject
                     and body hold MARK, then the final dot
  rset               RSET

A step whose command is refused still lets the session go on; the session
ends with QUIT. Exit status 0 when the session ran, 1 when it broke off.

smtp.py --serve PORTFILE LOG SCRIPT - a scripted server on 127.0.0.1, its
port written to PORTFILE, until stopped. Each connection plays SCRIPT as it
then is, a reply a line ("250 ok" once they run out): the greeting, then one
per command and per letter after a 354; "+N REPLY" comes N seconds late, "-"
answers nothing, "x" hangs up. LOG gets each command, and "." per letter.
"""
import os
import smtplib
import socket
import subprocess
import sys
import threading
import time


def session(conn, log, script):
    with conn, conn.makefile("rb") as lines, open(script) as f, open(log, "a") as out:
        replies = f.read().splitlines()
        while True:
            r = replies.pop(0) if replies else "250 ok"
            if r.startswith("+"):
                delay, _, r = r[1:].partition(" ")
                time.sleep(float(delay))
            if r == "-":
                lines.read()  # until the client hangs up
            if r in ("-", "x"):
                return
            conn.sendall(r.encode() + b"\r\n")
            for line in lines:  # the command, or the letter to its dot
                line = line.rstrip(b"\r\n").decode(errors="replace")
                if not r.startswith("354") or line == ".":
                    break
            else:
                return
            print(line, file=out, flush=True)


def serve(portfile, log, script):
    s = socket.create_server(("127.0.0.1", 0))
    with open(portfile + ".new", "w") as f:
        f.write(str(s.getsockname()[1]))
    os.rename(portfile + ".new", portfile)
    while True:
        conn, _ = s.accept()
        threading.Thread(target=session, args=(conn, log, script), daemon=True).start()


def message(size, mark):
    head = f"From: t@example.net\r\nTo: x@example.org\r\nSubject: {mark}\r\n\r\n{mark}\r\n"
    body = []
    left = max(0, size - len(head))
    while left > 0:
        line = "x" * min(76, max(0, left - 2))
        body.append(line)
        left -= len(line) + 2
    return (head + "\r\n".join(body) + "\r\n").encode()


def reply(code, text):
    return f"{code} " + " / ".join(text.decode(errors="replace").splitlines())


def main(argv):
    if argv[1] == "--serve":
        serve(*argv[2:5])
    split = argv.index("--")
    where = argv[1:split]
    if where[0] == "--run":
        ours, theirs = socket.socketpair()
        server = subprocess.Popen(where[1:], stdin=theirs, stdout=theirs)
        theirs.close()
        ours.settimeout(60)
        s = smtplib.SMTP(local_hostname="client.example.net", timeout=60)
        s.sock = ours
        code, text = s.getreply()
        if code != 220:
            raise SystemExit(f"smtp.py: greeting {reply(code, text)}")
    else:
        server = None
        host = where[1] if len(where) > 1 else "127.0.0.1"
        s = smtplib.SMTP(host, int(where[0]), local_hostname="client.example.net", timeout=60)
    s.ehlo()
    for step in argv[split + 1:]:
        kind, _, rest = step.partition(":")
        if kind == "mail":
            sender, _, size = rest.partition(":")
            cmd = f"FROM:<{sender}>" + (f" SIZE={size}" if size else "")
            code, text = s.docmd("MAIL", cmd)
        elif kind == "rcpt":
            code, text = s.docmd("RCPT", f"TO:<{rest}>")
        elif kind == "data":
            size, _, mark = rest.partition(":")
            code, text = s.docmd("DATA")
            if code == 354:
                s.send(smtplib.quotedata(message(int(size), mark).decode()).encode() + b"\r\n.\r\n")
                code, text = s.getreply()
        elif kind == "rset":
            code, text = s.docmd("RSET")
        else:
            raise SystemExit(f"smtp.py: unknown step {step}")
        print(f"{step} -> {reply(code, text)}", flush=True)
    s.quit()
    if server is not None and server.wait(timeout=60) != 0:
        raise SystemExit(f"smtp.py: {where[1]} exit status {server.returncode}")


if __name__ == "__main__":
    try:
        main(sys.argv)
    except (OSError, smtplib.SMTPException) as e:
        print(f"smtp.py: {e}", file=sys.stderr)
        sys.exit(1)
