"""An RFC 3161 time-stamp server on 127.0.0.1 for the release tests, answering with openssl ts.

    with TimeStampServer(folder) as server:
        server.url      # http://127.0.0.1:<port>/
        server.requests # how many time stamps it has given

Its own throw-away authority (a key and a certificate for time stamping) is made in the folder.
The server stops when the block ends, or by itself after its lifetime."""

import http.server
import subprocess
import threading
from pathlib import Path

LIFETIME_SECONDS = 300
CONFIG = """\
[tsa]
default_tsa = throwaway
[throwaway]
dir = {folder}
serial = $dir/serial
signer_cert = $dir/tsa.crt
signer_key = $dir/tsa.key
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha256
accuracy = secs:1
ess_cert_id_alg = sha256
"""


def _make_authority(folder):
    subprocess.run(
        ["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "30",
         "-subj", "/C=XX/O=Qerv Test/CN=Qerv Test Time Stamps",
         "-keyout", folder / "tsa.key", "-out", folder / "tsa.crt",
         "-addext", "extendedKeyUsage=critical,timeStamping",
         "-addext", "keyUsage=critical,digitalSignature"],
        check=True, capture_output=True)
    (folder / "serial").write_text("01\n")
    (folder / "tsa.cnf").write_text(CONFIG.format(folder=folder))


class TimeStampServer:
    def __init__(self, folder):
        self.folder = Path(folder)
        self.requests = 0
        _make_authority(self.folder)
        server = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_POST(self):
                query = self.rfile.read(int(self.headers.get("Content-Length", 0)))
                reply = server.answer(query)
                self.send_response(200 if reply else 500)
                self.send_header("Content-Type", "application/timestamp-reply")
                self.send_header("Content-Length", str(len(reply)))
                self.end_headers()
                self.wfile.write(reply)

            def log_message(self, *arguments):
                pass

        self.httpd = http.server.HTTPServer(("127.0.0.1", 0), Handler)
        self.url = f"http://127.0.0.1:{self.httpd.server_port}/"
        self.thread = threading.Thread(target=self.httpd.serve_forever, daemon=True)
        self.timer = threading.Timer(LIFETIME_SECONDS, self.httpd.shutdown)

    def answer(self, query):
        (self.folder / "query.tsq").write_bytes(query)
        done = subprocess.run(
            ["openssl", "ts", "-reply", "-config", self.folder / "tsa.cnf",
             "-queryfile", self.folder / "query.tsq", "-out", self.folder / "reply.tsr"],
            capture_output=True)
        if done.returncode != 0:
            return b""
        self.requests += 1
        return (self.folder / "reply.tsr").read_bytes()

    def __enter__(self):
        self.thread.start()
        self.timer.start()
        return self

    def __exit__(self, *exception):
        self.timer.cancel()
        self.httpd.shutdown()
        self.httpd.server_close()
        self.thread.join()
