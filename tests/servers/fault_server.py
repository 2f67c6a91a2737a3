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


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):
        if os.environ.get("QERV_FAULT_SERVER_LOG"):
            sys.stderr.write("fault-server: " + (fmt % args) + "\n")

    def headers_for(self, code, length=None, extra=()):
        self.send_response(code)
        self.send_header("Content-Type", "application/octet-stream")
        if length is not None:
            self.send_header("Content-Length", str(length))
        for name, value in extra:
            self.send_header(name, value)
        self.end_headers()

    def send_body(self, total, chunk=65536):
        sent = 0
        while sent < total:
            n = min(chunk, total - sent)
            self.wfile.write(body(sent, n))
            sent += n
        self.wfile.flush()

    def do_GET(self):
        parts = [p for p in self.path.split("?")[0].split("/") if p]
        try:
            mode, args = parts[0], [int(a) for a in parts[1:]]
        except (IndexError, ValueError):
            mode, args = "", []
        if mode == "ok" and len(args) == 1:
            self.headers_for(200, args[0])
            self.send_body(args[0])
        elif mode == "stall" and len(args) == 2:
            self.headers_for(200, args[1])
            self.send_body(args[0])
            time.sleep(self.server.lifetime)
        elif mode == "close" and len(args) == 2:
            self.headers_for(200, args[1], [("Connection", "close")])
            self.send_body(args[0])
            self.close_connection = True
        elif mode == "surplus" and len(args) == 2:
            self.headers_for(200, args[0], [("Connection", "close")])
            self.send_body(args[0] + args[1])
            self.close_connection = True
        elif mode == "nolength" and len(args) == 1:
            self.headers_for(200, None, [("Connection", "close")])
            self.send_body(args[0])
            self.close_connection = True
        elif mode == "zerolength":
            self.headers_for(200, 0)
        elif mode == "status" and len(args) == 1:
            text = b"status page\n"
            self.headers_for(args[0], len(text))
            self.wfile.write(text)
        elif mode == "auth" and len(args) == 1:
            if self.headers.get("Authorization"):
                self.headers_for(200, args[0])
                self.send_body(args[0])
            else:
                text = b"authenticate\n"
                self.headers_for(401, len(text), [("WWW-Authenticate", 'Basic realm="qerv"')])
                self.wfile.write(text)
        elif mode == "slow" and len(args) == 2:
            total, per_second = args
            self.headers_for(200, total)
            sent = 0
            while sent < total:
                n = min(per_second, total - sent)
                self.wfile.write(body(sent, n))
                self.wfile.flush()
                sent += n
                if sent < total:
                    time.sleep(1)
        else:
            text = b"unknown fault\n"
            self.headers_for(404, len(text))
            self.wfile.write(text)


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
        threading.Thread(target=server.serve_forever, daemon=True).start()
    with open(options.port_file + ".tmp", "w") as f:
        f.write(f"{plain.server_address[1]} {secure.server_address[1]}\n")
    os.replace(options.port_file + ".tmp", options.port_file)
    time.sleep(options.lifetime)
    os._exit(0)


if __name__ == "__main__":
    main()
