#!/usr/bin/python3
"""A scripted HTTP(S) server that misbehaves on demand, where nginx cannot.

Generated bodies: byte i of every body is (i * 7 + 3 + VERSION) & 0xFF, VERSION being 0 unless a
package changes, so a test can check what it got.
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
  /ranged/TOTAL?OPTIONS          a package of TOTAL bytes served as a static file server serves
                                 it, byte ranges and validators included, faulty as OPTIONS say
  /taking-turns?id=NAME[&delay=MS]
                                 401 (server, Basic) and 407 (proxy, Basic) by turns, for ever
  /file/PATH                     the file PATH of --www as /ranged serves a package, with the
                                 OPTIONS that the file PATH.fault beside it holds (nginx hands a
                                 file with such a companion over to this server)
OPTIONS, joined by '&':
  id=NAME                        the package whose versions and requests are counted
  cut=BYTES or cut=PERCENT%      each answer's body stops after that many bytes (of the package)
                                 and the connection closes
  cuts=N                         only the first N answers are cut
  validator=etag|date|weak|none  the validator sent (a strong ETag by default, Last-Modified, a
                                 weak ETag, or none)
  ranges=honour|ignore|wrong-start|wrong-total|other-version
                                 a Range with a matching If-Range gets a 206 for it (honour), a
                                 200 for the whole (ignore), a 206 whose Content-Range starts
                                 at 0 or names a total one byte larger, or a 206 for it with the
                                 bytes and validator of the next version
  change=1                       every request meets a new version of the package
Every request is appended to --request-log as one line: the path, the Range and If-Range
headers ("-" when absent) and the status answered.
With --chaos SEED it serves instead the package --package (and the versions that further
--package options give) with faults that a seeded generator draws per connection and request, on
the plain HTTP port --http-port, which is also a forward proxy, and the HTTPS port --https-port
(free ones when not given; tests/servers/fault_chaos.py).
Listens on 127.0.0.1 only and ends by itself after --lifetime seconds.
"""
import argparse
import email.utils
import http.server
import os
import socketserver
import ssl
import sys
import threading
import time
import urllib.parse

import fault_chaos

PIECE = 65536
# The pattern repeats every 256 bytes: one long enough for any piece at any offset, per version.
_PATTERNS = {}


def body(start, length, version=0):
    version %= 256
    if version not in _PATTERNS:
        _PATTERNS[version] = bytes(((i * 7 + 3 + version) & 0xFF)
                                   for i in range(256)) * (PIECE // 256 + 1)
    out = bytearray()
    while length > 0:
        step = min(length, PIECE)
        offset = start % 256
        out += _PATTERNS[version][offset:offset + step]
        start += step
        length -= step
    return bytes(out)


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


class Package:
    """What /ranged and /file serve: a size, its bytes, and its validators."""

    def __init__(self, total, read, tag, modified):
        self.total, self.read, self.tag, self.modified = total, read, tag, modified


def generated(total, version):
    # A date far enough in the past for a client to take it as a validator.
    return Package(total, lambda start, length: body(start, length, version),
                   f'"{total:x}-v{version}"',
                   email.utils.formatdate(1_600_000_000 + version, usegmt=True))


def from_file(path):
    info = os.stat(path)

    def read(start, length):
        with open(path, "rb") as f:
            f.seek(start)
            return f.read(length)
    # As nginx makes them: the modification time and the size in hexadecimal.
    return Package(info.st_size, read, f'"{int(info.st_mtime):x}-{info.st_size:x}"',
                   email.utils.formatdate(info.st_mtime, usegmt=True))


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):
        if os.environ.get("QERV_FAULT_SERVER_LOG"):
            sys.stderr.write("fault-server: " + (fmt % args) + "\n")

    def record(self, code):
        with self.server.lock:
            if self.server.request_log:
                with open(self.server.request_log, "a") as log:
                    log.write(f"{self.path} range={self.headers.get('Range', '-')} "
                              f"if-range={self.headers.get('If-Range', '-')} {code}\n")

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        options = dict(urllib.parse.parse_qsl(url.query))
        parts = [p for p in url.path.split("/") if p]
        if parts[:1] == ["ranged"] and len(parts) == 2 and parts[1].isdigit():
            return self.serve_package(int(parts[1]), options, None)
        if parts[:1] == ["file"] and len(parts) > 1:
            return self.serve_file(parts[1:])
        if parts == ["taking-turns"]:
            return self.take_turns(options)
        return self.serve_fault(parts)

    def send_head(self, code, headers, close=False):
        self.record(code)
        self.send_response(code)
        for name, value in headers:
            self.send_header(name, value)
        if close:
            self.send_header("Connection", "close")
            self.close_connection = True
        self.end_headers()

    def take_turns(self, options):
        with self.server.lock:
            turn = self.server.counts.get(options.get("id"), 0)
            self.server.counts[options.get("id")] = turn + 1
        time.sleep(int(options.get("delay", "0")) / 1000)
        text = b"authenticate\n"
        challenge = (("WWW-Authenticate", 'Basic realm="qerv"') if turn % 2 == 0 else
                     ("Proxy-Authenticate", 'Basic realm="qerv"'))
        self.send_head(401 if turn % 2 == 0 else 407,
                       [challenge, ("Content-Length", str(len(text)))])
        self.wfile.write(text)

    def serve_file(self, parts):
        root = os.path.realpath(self.server.www or "/nonexistent")
        path = os.path.realpath(os.path.join(root, *parts))
        if not path.startswith(root + os.sep) or not os.path.isfile(path):
            self.send_head(404, [("Content-Length", "0")])
            return None
        with open(path + ".fault") if os.path.exists(path + ".fault") else open(os.devnull) as f:
            options = dict(urllib.parse.parse_qsl(f.read().strip()))
        options.setdefault("id", path)
        return self.serve_package(None, options, path)

    def serve_package(self, total, options, path):
        key = options.get("id", self.path)
        with self.server.lock:
            version = self.server.versions.get(key, 0)
            if options.get("change") == "1":
                self.server.versions[key] = version + 1
            answers = self.server.counts.get(key, 0)
            self.server.counts[key] = answers + 1
        package = from_file(path) if path else generated(total, version)
        total = package.total
        kind = options.get("validator", "etag")
        validator = {"etag": package.tag, "weak": "W/" + package.tag,
                     "date": package.modified}.get(kind)
        headers = [("Content-Type", "application/octet-stream"), ("Accept-Ranges", "bytes")]
        if kind in ("etag", "weak"):
            headers.append(("ETag", validator))
        if kind == "date":
            headers.append(("Last-Modified", validator))
        start, code = 0, 200
        asked = self.headers.get("Range", "")
        ranges = options.get("ranges", "honour")
        if (asked.startswith("bytes=") and asked.endswith("-") and asked[6:-1].isdigit()
                and self.headers.get("If-Range") == validator and kind != "weak"
                and ranges != "ignore" and int(asked[6:-1]) < total):
            start, code = int(asked[6:-1]), 206
            first, last, named = start, total - 1, total
            if ranges == "wrong-start":
                first = 0
            elif ranges == "wrong-total":
                last, named = total, total + 1
            elif ranges == "other-version" and path is None:
                # The rest of the next version, with its own validator, for the same range.
                package = generated(total, version + 1)
                other = {"etag": package.tag, "weak": "W/" + package.tag,
                         "date": package.modified}.get(kind)
                headers = [(name, other if value == validator else value)
                           for name, value in headers]
            headers.append(("Content-Range", f"bytes {first}-{last}/{named}"))
        headers.append(("Content-Length", str(total - start)))
        cut = options.get("cut")
        if answers >= int(options.get("cuts", answers + 1)):
            cut = None
        if cut:
            cut = total * int(cut[:-1]) // 100 if cut.endswith("%") else int(cut)
        end = min(total, start + cut) if cut else total
        self.send_head(code, headers, close=end < total)
        for offset in range(start, end, PIECE):
            self.wfile.write(package.read(offset, min(PIECE, end - offset)))
        self.wfile.flush()

    def serve_fault(self, parts):
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
        headers.append(("Content-Type", "application/octet-stream"))
        if announced is not None:
            headers.append(("Content-Length", str(announced)))
        self.send_head(code, headers, close=mode in ("close", "surplus", "nolength"))
        self.wfile.write(text)
        # A slow body comes in pieces of PERSEC bytes a second apart.
        chunk, pause = (args[1], 1) if mode == "slow" else (PIECE, 0)
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
    parser.add_argument("--www", help="the folder that /file/ serves from")
    parser.add_argument("--request-log", help="where every request is recorded")
    parser.add_argument("--chaos", type=int, metavar="SEED", help="serve the package in chaos")
    parser.add_argument("--chaos-profile", choices=sorted(fault_chaos.PROFILES), default="full")
    parser.add_argument("--chaos-log", help="where the chaos mode records its draws and answers")
    parser.add_argument("--package", action="append", help="the package, then its other versions")
    parser.add_argument("--https-port", type=int, default=0, help="chaos: the HTTPS port")
    parser.add_argument("--http-port", type=int, default=0, help="chaos: the plain port")
    options = parser.parse_args()
    if options.chaos is not None:
        if not options.package or not options.chaos_log:
            parser.error("--chaos needs --package and --chaos-log")
        fault_chaos.serve(options, options.port_file)

    plain = Server(("127.0.0.1", 0), Handler)
    secure = Server(("127.0.0.1", 0), Handler)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(options.cert, options.key)
    secure.socket = context.wrap_socket(secure.socket, server_side=True)
    # Both servers count the same packages and turns, and log to the same file.
    lock, versions, counts = threading.Lock(), {}, {}
    for server in (plain, secure):
        server.lifetime = options.lifetime
        server.plain_port = plain.server_address[1]
        server.www, server.request_log = options.www, options.request_log
        server.lock, server.versions, server.counts = lock, versions, counts
        threading.Thread(target=server.serve_forever, daemon=True).start()
    with open(options.port_file + ".tmp", "w") as f:
        f.write(f"{plain.server_address[1]} {secure.server_address[1]}\n")
    os.replace(options.port_file + ".tmp", options.port_file)
    time.sleep(options.lifetime)
    os._exit(0)


if __name__ == "__main__":
    main()
