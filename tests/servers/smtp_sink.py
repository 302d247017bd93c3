#!/usr/bin/env python3
"""An SMTP server on 127.0.0.1 that keeps what it receives, for the outgoing
mail tests and the demo.

Usage: smtp_sink.py FOLDER PORT_FILE
Listens on a free port, writes "127.0.0.1:PORT" to PORT_FILE once it accepts
connections, and serves until killed. Each message it accepts becomes
FOLDER/N.eml (the DATA, dot-unstuffed, CR LF kept) with FOLDER/N.json beside
it: the envelope (helo, mail_from, rcpt_to) and the AUTH given, if any
({"mechanism", "user", "password"}).

It offers AUTH PLAIN and LOGIN, and refuses: a recipient whose address holds
"reject" (550), and every AUTH whose password is "wrong" (535).
"""
import base64
import json
import os
import socketserver
import sys
import threading

FOLDER = None
COUNTER = [0]
LOCK = threading.Lock()


def b64(text):
    return base64.b64decode(text).decode("utf-8", "replace")


class Session(socketserver.StreamRequestHandler):
    timeout = 30

    def reply(self, line):
        self.wfile.write(line.encode() + b"\r\n")

    def line(self):
        raw = self.rfile.readline(65536)
        if not raw:
            raise EOFError
        return raw.rstrip(b"\r\n").decode("latin-1")

    def handle(self):
        envelope = {"helo": None, "mail_from": None, "rcpt_to": [], "auth": None}
        self.reply("220 sink ESMTP ready")
        try:
            while True:
                command = self.line()
                verb = command.split(" ", 1)[0].upper()
                argument = command[len(verb):].strip()
                if verb in ("EHLO", "HELO"):
                    envelope["helo"] = argument
                    if verb == "EHLO":
                        self.reply("250-sink")
                        self.reply("250-8BITMIME")
                        self.reply("250 AUTH PLAIN LOGIN")
                    else:
                        self.reply("250 sink")
                elif verb == "AUTH":
                    self.auth(argument, envelope)
                elif verb == "MAIL":
                    envelope["mail_from"] = argument.split(":", 1)[1].strip() if ":" in argument else argument
                    envelope["rcpt_to"] = []
                    self.reply("250 OK")
                elif verb == "RCPT":
                    address = argument.split(":", 1)[1].strip() if ":" in argument else argument
                    if "reject" in address.lower():
                        self.reply("550 no such user here")
                    else:
                        envelope["rcpt_to"].append(address)
                        self.reply("250 OK")
                elif verb == "DATA":
                    if not envelope["rcpt_to"]:
                        self.reply("554 no valid recipients")
                        continue
                    self.reply("354 end with <CRLF>.<CRLF>")
                    self.data(envelope)
                    self.reply("250 OK queued")
                elif verb == "RSET":
                    envelope.update(mail_from=None, rcpt_to=[])
                    self.reply("250 OK")
                elif verb == "NOOP":
                    self.reply("250 OK")
                elif verb == "QUIT":
                    self.reply("221 bye")
                    return
                else:
                    self.reply("502 command not implemented")
        except (EOFError, ConnectionError, OSError):
            return

    def auth(self, argument, envelope):
        parts = argument.split(" ", 1)
        mechanism = parts[0].upper()
        if mechanism == "PLAIN":
            if len(parts) > 1:
                token = parts[1]
            else:
                self.reply("334 ")
                token = self.line()
            fields = b64(token).split("\0")
            user, password = (fields + ["", "", ""])[1:3]
        elif mechanism == "LOGIN":
            if len(parts) > 1:
                user = b64(parts[1])
            else:
                self.reply("334 VXNlcm5hbWU6")
                user = b64(self.line())
            self.reply("334 UGFzc3dvcmQ6")
            password = b64(self.line())
        else:
            self.reply("504 mechanism not supported")
            return
        if password == "wrong":
            self.reply("535 authentication failed")
            return
        envelope["auth"] = {"mechanism": mechanism, "user": user, "password": password}
        self.reply("235 authenticated")

    def data(self, envelope):
        lines = []
        while True:
            raw = self.rfile.readline(1 << 20)
            if not raw:
                raise EOFError
            if raw in (b".\r\n", b".\n"):
                break
            if raw.startswith(b"."):
                raw = raw[1:]
            lines.append(raw)
        with LOCK:
            COUNTER[0] += 1
            number = COUNTER[0]
        base = os.path.join(FOLDER, str(number))
        with open(base + ".eml.tmp", "wb") as f:
            f.write(b"".join(lines))
        with open(base + ".json.tmp", "w") as f:
            json.dump(envelope, f)
        os.replace(base + ".eml.tmp", base + ".eml")
        os.replace(base + ".json.tmp", base + ".json")


def main():
    global FOLDER
    FOLDER = sys.argv[1]
    os.makedirs(FOLDER, exist_ok=True)
    socketserver.ThreadingTCPServer.allow_reuse_address = True
    server = socketserver.ThreadingTCPServer(("127.0.0.1", 0), Session)
    server.daemon_threads = True
    temp = sys.argv[2] + ".tmp"
    with open(temp, "w") as f:
        f.write("127.0.0.1:%d" % server.server_address[1])
    os.replace(temp, sys.argv[2])
    server.serve_forever()


if __name__ == "__main__":
    main()
