#!/usr/bin/env python3
"""Pages for the page-supervision tests and the demo, on 127.0.0.1.

Usage: page_server.py PORT_FILE
Listens on a free port, writes "127.0.0.1:PORT" to PORT_FILE once it accepts
connections, and serves until killed:

  /found     "Service is RUNNING" in a small page
  /empty     an empty body
  /4096      4096 bytes ending in "END"; /8192 the same with 8192
  /across    "WARNING" across byte 4096 of the body
  /gbk       GBK text whose character straddles byte 4096
  /error500  status 500 with "database down" in its body
  /big       8 MB of filler ending in "the very end"
  /endless   "status: alive" and then filler that never ends
  /echo...   "path=" and the path of the request line as it came
  anything else: 404 with "Not Found"
"""
import http.server
import os
import sys

FILLER = (b"z" * 63 + b"\n") * 1024


def fixed(size, tail):
    return b"." * (size - len(tail)) + tail


PAGES = {
    "/found": (200, b"<html><body>Service is RUNNING</body></html>"),
    "/empty": (200, b""),
    "/4096": (200, fixed(4096, b"END")),
    "/8192": (200, fixed(8192, b"END")),
    "/across": (200, b"-" * 4092 + b"WARNING" + b"-" * 5000),
    "/gbk": (200, b"a" * 4095 + "维护中".encode("gbk") + b"b"),
    "/error500": (500, b"<h1>Internal Server Error</h1> database down"),
}


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def log_message(self, *args):
        pass

    def do_GET(self):
        path = self.path.split("?")[0]
        try:
            if path == "/big":
                self.stream(8 << 20, b"the very end")
            elif path == "/endless":
                self.stream(None, b"")
            elif path.startswith("/echo"):
                self.page(200, b"path=" + self.path.encode("latin-1"))
            else:
                self.page(*PAGES.get(path, (404, b"Not Found")))
        except (BrokenPipeError, ConnectionResetError):
            pass

    def page(self, status, body):
        self.send_response(status)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def stream(self, size, tail):
        self.send_response(200)
        self.send_header("Content-Type", "text/html")
        self.end_headers()
        self.wfile.write(b"<html>status: alive ")
        sent = 0
        while size is None or sent < size:
            self.wfile.write(FILLER)
            sent += len(FILLER)
        self.wfile.write(tail)


def main():
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    temp = sys.argv[1] + ".tmp"
    with open(temp, "w") as f:
        f.write("127.0.0.1:%d" % server.server_address[1])
    os.replace(temp, sys.argv[1])
    server.serve_forever()


if __name__ == "__main__":
    main()
