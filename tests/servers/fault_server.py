#!/usr/bin/python3
"""A scripted HTTP(S) server that misbehaves on demand, where nginx cannot.

Bodies are generated: byte i of every body is (i * 7 + 3) & 0xFF, so a test can check what it got.
Paths:
  /ok/TOTAL                      200, Content-Length TOTAL, the whole body
  /stall/SENT/TOTAL              announces TOTAL, sends SENT bytes, then sends nothing more
  /close/SENT/TOTAL              announces TOTAL, sends SENT bytes, then closes the connection
  /surplus/TOTAL/EXTRA           announces TOTAL, sends TOTAL + EXTRA bytes
  /nolength/TOTAL                no Content-Length; sends TOTAL bytes and closes
  /zerolength                    Content-Length: 0
  /status/CODE                   answers CODE with a short body
  /auth/TOTAL                    401 with Basic until the request carries credentials, then the body
  /slow/TOTAL/PERSEC             sends TOTAL bytes at PERSEC bytes a second
  /loop/N                        302 to /loop/N+1 on the same server, for ever
  /tohttp/TOTAL                  302 to /ok/TOTAL on the plain HTTP server
Listens on 127.0.0.1 only and ends by itself after --lifetime seconds.
"""
import argparse
import http.server
import os
import socketserver
import ssl
import sys
import threading
import time


def body(start, length):
    return bytes(((i * 7 + 3) & 0xFF) for i in range(start, start + length))


# (announced length or None, bytes sent) of each body fault by its path and number of arguments.
BODIES = {
    ("ok", 1): lambda a: (a[0], a[0]),
    ("stall", 2): lambda a: (a[1], a[0]),
    ("close", 2): lambda a: (a[1], a[0]),
    ("surplus", 2): lambda a: (a[0], a[0] + a[1]),
    ("nolength", 1): lambda a: (None, a[0]),
    ("zerolength", 0): lambda a: (0, 0),
    ("auth", 1): lambda a: (a[0], a[0]),
    ("slow", 2): lambda a: (a[0], a[0]),
}


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):
        if os.environ.get("QERV_FAULT_SERVER_LOG"):
            sys.stderr.write("fault-server: " + (fmt % args) + "\n")

    def do_GET(self):
        parts = [p for p in self.path.split("?")[0].split("/") if p]
        try:
            mode, args = parts[0], [int(a) for a in parts[1:]]
        except (IndexError, ValueError):
            mode, args = "", []
        code, text, headers = 200, b"", []
        if (mode, len(args)) == ("status", 1):
            code, text = args[0], b"status page\n"
        elif (mode, len(args)) in (("loop", 1), ("tohttp", 1)):
            code, text = 302, b"moved\n"
            target = (f"/loop/{args[0] + 1}" if mode == "loop" else
                      f"http://127.0.0.1:{self.server.plain_port}/ok/{args[0]}")
            headers.append(("Location", target))
        elif mode == "auth" and not self.headers.get("Authorization"):
            code, text = 401, b"authenticate\n"
            headers.append(("WWW-Authenticate", 'Basic realm="qerv"'))
        elif (mode, len(args)) not in BODIES:
            code, text = 404, b"unknown fault\n"
        announced, sent = (len(text), 0) if text else BODIES[mode, len(args)](args)
        if mode in ("close", "surplus", "nolength"):
            headers.append(("Connection", "close"))
            self.close_connection = True
        self.send_response(code)
        self.send_header("Content-Type", "application/octet-stream")
        if announced is not None:
            headers.append(("Content-Length", str(announced)))
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(text)
        # A slow body comes in pieces of PERSEC bytes a second apart.
        chunk, pause = (args[1], 1) if mode == "slow" else (65536, 0)
        for start in range(0, sent, chunk):
            if start:
                time.sleep(pause)
            self.wfile.write(body(start, min(chunk, sent - start)))
            self.wfile.flush()
        if mode == "stall":
            time.sleep(self.server.lifetime)


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port-file", required=True, help="where to write 'HTTP_PORT HTTPS_PORT'")
    parser.add_argument("--cert", required=True)
    parser.add_argument("--key", required=True)
    parser.add_argument("--lifetime", type=int, default=900)
    options = parser.parse_args()

    plain = Server(("127.0.0.1", 0), Handler)
    secure = Server(("127.0.0.1", 0), Handler)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(options.cert, options.key)
    secure.socket = context.wrap_socket(secure.socket, server_side=True)
    for server in (plain, secure):
        server.lifetime = options.lifetime
        server.plain_port = plain.server_address[1]
        threading.Thread(target=server.serve_forever, daemon=True).start()
    with open(options.port_file + ".tmp", "w") as f:
        f.write(f"{plain.server_address[1]} {secure.server_address[1]}\n")
    os.replace(options.port_file + ".tmp", options.port_file)
    time.sleep(options.lifetime)
    os._exit(0)


if __name__ == "__main__":
    main()
