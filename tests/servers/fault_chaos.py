"""The chaos mode of the fault server: the real package served as a static file server serves it
(byte ranges, a strong ETag, Last-Modified), over HTTPS and plain HTTP, and a forward proxy on the
plain port whose tunnels reach the HTTPS port. Each connection and each request misbehave as a
generator seeded with the run's seed draws, so that a run can be replayed from its seed.

A run's weather comes first: the share of requests that are answered well (good; with none, no
fault delivers the package either). Then:
  per connection       reset at once (before any byte), or served
  per package request  good; stall after k bytes; cut after k bytes; trickle; a longer or a
                       shorter Content-Length than the bytes sent; a 5xx; a 404; headers that
                       come slowly; the package changed (the other version, another ETag); for a
                       request with Range: the whole package with 200, or a 206 whose
                       Content-Range is wrong
  per CONNECT          a tunnel; reset at once; 502; a tunnel that opens slowly
Every delay has a bound (PROFILES), so that a run of the setup ends within a bound that the
harness computes from them; "quick" has no stall that outlasts the setup's own limits.

The chaos log (JSON lines) starts with the profile and the weather, then one line per draw, one
per answer ("answer": what was sent, and "complete" when it was the honest rest or whole of the
package, sent to its end), and one "delivered" line per complete answer once the client has read
it all (it sent its next request on the connection or closed cleanly) or not (it reset the
connection, which a client that closes with unread bytes does).
"""
import email.utils
import hashlib
import http.server
import json
import os
import random
import select
import socket
import socketserver
import ssl
import struct
import threading
import time
import urllib.parse

PIECE = 65536

# Seconds; every delay of a run stays within these. "long_stall" outlasts the setup's crawl limit
# on its libcurl path (60 s below 1 KiB/s), so that the limit itself ends the transfer.
PROFILES = {
    "quick": {"stall": [6.0, 9.0], "long_stall": None, "slow_headers": [0.5, 3.0],
              "trickle": 4.0, "trickle_pause": [0.02, 0.2], "slow_tunnel": [0.5, 2.0]},
    "full": {"stall": [6.0, 9.0], "long_stall": 75.0, "slow_headers": [0.5, 3.0],
             "trickle": 5.0, "trickle_pause": [0.02, 0.25], "slow_tunnel": [0.5, 3.0]},
}
# The share of requests answered well, one drawn per run: from a good network to one where the
# package never arrives whole.
WEATHERS = [0.85, 0.6, 0.35, 0.1, 0.0]
# The other request behaviours, by weight; the Range ones only for a request with a Range header.
FAULTS = {"stall": 8, "cut": 10, "trickle": 6, "longer": 4, "shorter": 4, "5xx": 6, "404": 4,
          "slow-headers": 6, "changed": 5, "long-stall": 2}
RANGE_FAULTS = {"range-200": 6, "wrong-range": 6}
# Faults that still deliver the package whole, which a server that is down never does.
DELIVERING = {"trickle", "slow-headers", "changed", "range-200"}
RESET_SHARE = 0.15  # of the faulty share: connections reset before any byte
PROXY = {"tunnel": 70, "reset": 10, "502": 10, "slow-tunnel": 10}


class Version:
    """One version of the package: its bytes and validators, as nginx makes them."""

    def __init__(self, data, number):
        self.data = data
        self.etag = '"%s-%x"' % (hashlib.md5(data).hexdigest()[:12], len(data))
        self.modified = email.utils.formatdate(1_600_000_000 + number * 86400, usegmt=True)


class Plan:
    """The seeded draws of one run, shared by the connections, and its log."""

    def __init__(self, seed, profile, packages, log_path):
        self.random = random.Random(seed)
        self.limits = PROFILES[profile]
        self.names = {os.path.basename(path) for path in packages[:1]}
        self.versions = [Version(open(path, "rb").read(), n) for n, path in enumerate(packages)]
        self.current = 0
        self.lock = threading.Lock()
        self.log_path = log_path
        self.answers = 0
        self.good = self.random.choice(WEATHERS)
        self.log({"kind": "profile", "seed": seed, "profile": profile, "good": self.good,
                  "limits": self.limits, "sizes": [len(v.data) for v in self.versions]})

    def log(self, record):
        with open(self.log_path, "a") as log:
            log.write(json.dumps(record) + "\n")

    def _pick(self, weights):
        names = [name for name, weight in weights.items()]
        return self.random.choices(names, [weights[n] for n in names])[0]

    def draw_connection(self):
        with self.lock:
            reset = self.random.random() < (1 - self.good) * RESET_SHARE
            self.log({"kind": "draw", "what": "connection",
                      "behaviour": "reset" if reset else "served"})
            return reset

    def draw_request(self, ranged):
        """A behaviour with its parameters, and the version to serve."""
        with self.lock:
            faults = dict(FAULTS, **(RANGE_FAULTS if ranged else {}))
            if self.limits["long_stall"] is None:
                faults.pop("long-stall")
            if self.good == 0:
                faults = {name: w for name, w in faults.items() if name not in DELIVERING}
            behaviour = "good" if self.random.random() < self.good else self._pick(faults)
            if behaviour == "changed" and len(self.versions) > 1:
                self.current = (self.current + 1) % len(self.versions)
            version = self.versions[self.current]
            # Fractions of the body, and delays within their bounds, drawn now so that they
            # follow from the seed whatever the request turns out to ask.
            params = {"fraction": self.random.random(), "extra": self.random.randint(1, 4096),
                      "status": self.random.choice([500, 502, 503]),
                      "stall": self.random.uniform(*self.limits["stall"]),
                      "headers": self.random.uniform(*self.limits["slow_headers"]),
                      "wrong": self.random.choice(["start", "total", "end"]),
                      "pieces": self.random.randint(0, 2 ** 31)}
            self.answers += 1
            number = self.answers
            self.log({"kind": "draw", "what": "request", "n": number, "behaviour": behaviour})
            return number, behaviour, params, version

    def draw_proxy(self):
        with self.lock:
            behaviour = "tunnel" if self.random.random() < self.good else self._pick(PROXY)
            delay = self.random.uniform(*self.limits["slow_tunnel"])
            self.log({"kind": "draw", "what": "proxy", "behaviour": behaviour})
            return behaviour, delay


def reset(sock):
    """Closes the connection with a reset instead of an orderly end."""
    try:
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        sock.close()
    except OSError:
        pass


def asked_start(header):
    """N of "bytes=N-", the one kind of range the setup asks for, or None."""
    if header and header.startswith("bytes=") and header.endswith("-") and header[6:-1].isdigit():
        return int(header[6:-1])
    return None


class ChaosHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    timeout = 120

    def log_message(self, fmt, *args):
        pass

    def setup(self):
        super().setup()
        self.pending = None  # the complete answer whose delivery is not known yet

    def handle(self):
        try:
            super().handle()
        except (ConnectionResetError, BrokenPipeError, TimeoutError, ssl.SSLError, OSError) as e:
            # A client that ends without the TLS close is still an orderly end.
            self.settle(isinstance(e, ssl.SSLEOFError))
        else:
            self.settle(True)

    def settle(self, delivered):
        if self.pending is not None:
            self.server.plan.log({"kind": "delivered", "n": self.pending, "delivered": delivered})
            self.pending = None

    def send_head(self, code, headers):
        self.send_response(code)
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()

    def do_GET(self):
        self.settle(True)
        plan = self.server.plan
        name = os.path.basename(urllib.parse.urlsplit(self.path).path)
        if name not in plan.names:
            self.send_head(404, [("Content-Length", "0")])
            return
        start = asked_start(self.headers.get("Range"))
        number, behaviour, params, version = plan.draw_request(start is not None)
        self.answer(number, behaviour, params, version, start)

    def answer(self, number, behaviour, params, version, start):
        plan = self.server.plan
        data = version.data
        total = len(data)
        record = {"kind": "answer", "n": number, "behaviour": behaviour,
                  "range": self.headers.get("Range"), "if_range": self.headers.get("If-Range"),
                  "agent": self.headers.get("User-Agent"), "etag": version.etag,
                  "complete": False}
        if behaviour in ("5xx", "404"):
            code = params["status"] if behaviour == "5xx" else 404
            text = b"chaos\n"
            self.send_head(code, [("Content-Length", str(len(text)))])
            self.wfile.write(text)
            plan.log(dict(record, status=code, sent=0))
            return
        # The honest answer: the rest for a range that If-Range allows, else the whole.
        matches = start is not None and self.headers.get("If-Range") == version.etag
        if matches and start >= total:
            self.send_head(416, [("Content-Range", f"bytes */{total}"), ("Content-Length", "0")])
            plan.log(dict(record, status=416, sent=0))
            return
        first = start if matches and behaviour != "range-200" else 0
        code = 206 if first or (matches and behaviour != "range-200") else 200
        headers = [("Content-Type", "application/octet-stream"), ("Accept-Ranges", "bytes"),
                   ("ETag", version.etag), ("Last-Modified", version.modified)]
        honest = True
        if code == 206:
            right = f"bytes {first}-{total - 1}/{total}"
            given = right
            if behaviour == "wrong-range":
                given = {"start": f"bytes 0-{total - 1}/{total}",
                         "total": f"bytes {first}-{total}/{total + 1}",
                         "end": f"bytes {first}-{total - 2}/{total}"}[params["wrong"]]
            headers.append(("Content-Range", given))
            honest = given == right
        body = total - first
        length = body
        if behaviour == "longer":
            length, honest = body + params["extra"], False
        elif behaviour == "shorter" and body > 1:
            length, honest = max(1, body - params["extra"]), False
        sent = min(length, body)
        if behaviour in ("stall", "cut", "long-stall"):
            sent, honest = int(body * params["fraction"]), False
        headers.append(("Content-Length", str(length)))
        if behaviour == "slow-headers":
            time.sleep(params["headers"])
        self.send_head(code, headers)
        record.update(status=code, first=first, announced=length, sent=sent)
        if behaviour == "trickle":
            self.trickle(data, first, first + sent, params["pieces"])
        else:
            for offset in range(first, first + sent, PIECE):
                self.wfile.write(data[offset:min(offset + PIECE, first + sent)])
        self.wfile.flush()
        complete = honest and sent == body
        plan.log(dict(record, complete=complete))
        if complete:
            self.pending = number
        if behaviour in ("stall", "long-stall"):
            limit = plan.limits["long_stall"] if behaviour == "long-stall" else params["stall"]
            time.sleep(min(limit, self.server.lifetime))
        if sent < length or behaviour in ("stall", "cut", "long-stall", "longer"):
            self.close_connection = True

    def trickle(self, data, begin, end, seed):
        """The body in small pieces with short pauses, for at most the profile's trickle time;
        the rest then follows at once."""
        limits = self.server.plan.limits
        pieces = random.Random(seed)
        deadline = time.monotonic() + limits["trickle"]
        offset = begin
        while offset < end and time.monotonic() < deadline:
            step = min(end - offset, pieces.randint(512, 8192))
            self.wfile.write(data[offset:offset + step])
            self.wfile.flush()
            offset += step
            time.sleep(pieces.uniform(*limits["trickle_pause"]))
        for at in range(offset, end, PIECE):
            self.wfile.write(data[at:min(at + PIECE, end)])

    def do_CONNECT(self):
        """A forward proxy's tunnel to the HTTPS port, or its failure."""
        plan = self.server.plan
        behaviour, delay = plan.draw_proxy()
        host, _, port = self.path.rpartition(":")
        known = host in ("127.0.0.1", "localhost") and port == str(self.server.https_port)
        if behaviour == "reset":
            self.close_connection = True
            reset(self.connection)
            return
        if behaviour == "502" or not known:
            self.send_head(502, [("Content-Length", "0"), ("Connection", "close")])
            self.close_connection = True
            return
        if behaviour == "slow-tunnel":
            time.sleep(delay)
        try:
            upstream = socket.create_connection(("127.0.0.1", self.server.https_port), timeout=10)
        except OSError:
            self.send_head(502, [("Content-Length", "0"), ("Connection", "close")])
            self.close_connection = True
            return
        self.send_response(200, "Connection established")
        self.end_headers()
        self.wfile.flush()
        relay(self.connection, upstream, self.server.lifetime)
        self.close_connection = True


def relay(client, upstream, lifetime):
    """Copies bytes both ways until either side ends; a reset on one side resets the other."""
    deadline = time.monotonic() + lifetime
    ends = {client: upstream, upstream: client}
    try:
        while time.monotonic() < deadline:
            ready, _, _ = select.select(list(ends), [], [], 1.0)
            for sock in ready:
                try:
                    data = sock.recv(PIECE)
                except ConnectionResetError:
                    reset(ends[sock])
                    return
                if not data:
                    return
                ends[sock].sendall(data)
    except OSError:
        return
    finally:
        upstream.close()


class ChaosServer(socketserver.ThreadingMixIn, http.server.HTTPServer):
    """One port of the chaos mode: TLS (when given a context) is taken up per connection, in the
    connection's own thread, once its draw has not reset it."""
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, address, plan, context, lifetime):
        super().__init__(address, ChaosHandler)
        self.plan, self.context, self.lifetime = plan, context, lifetime
        self.https_port = 0

    def finish_request(self, request, client_address):
        if self.plan.draw_connection():
            reset(request)
            return
        if self.context is not None:
            request.settimeout(30)
            try:
                request = self.context.wrap_socket(request, server_side=True)
            except (ssl.SSLError, OSError):
                return
        try:
            self.RequestHandlerClass(request, client_address, self)
        finally:
            if self.context is not None:
                request.close()

    def handle_error(self, request, client_address):
        pass


def serve(options, port_file):
    """Both chaos ports until the lifetime ends, plain HTTP (and the proxy) on options.http_port
    and HTTPS on options.https_port; "HTTP_PORT HTTPS_PORT" goes to port_file."""
    plan = Plan(options.chaos, options.chaos_profile, options.package, options.chaos_log)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(options.cert, options.key)
    secure = ChaosServer(("127.0.0.1", options.https_port), plan, context, options.lifetime)
    plain = ChaosServer(("127.0.0.1", options.http_port), plan, None, options.lifetime)
    for server in (plain, secure):
        server.https_port = secure.server_address[1]
        threading.Thread(target=server.serve_forever, daemon=True).start()
    with open(port_file + ".tmp", "w") as f:
        f.write(f"{plain.server_address[1]} {secure.server_address[1]}\n")
    os.replace(port_file + ".tmp", port_file)
    time.sleep(options.lifetime)
    os._exit(0)
