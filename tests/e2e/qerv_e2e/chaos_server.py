"""The fault server in its chaos mode as the update server of one run (HTTPS on the setup's port
8443, and its plain port as the proxy of the proxied attempts), the two versions of the package it
serves, and what its log says of the run."""
import contextlib
import json
import os
import signal
import subprocess
import tempfile
from dataclasses import dataclass, field
from pathlib import Path

from qerv_e2e import RECORDER_UNSIGNED_EXE, ROOT, WIN_BUILD, eventually
from qerv_e2e.servers import HTTPS_PORT, PACKAGE_NAME, pack

FAULT_SERVER = ROOT / "tests" / "servers" / "fault_server.py"
CERT_DIR = ROOT / "build" / "test-cert"
# About a megabyte, so that a cut or a stall can fall anywhere in many pieces of the body.
INSTALLER_BYTES = 1024 * 1024


def signed_installer(path, size, overlay_seed):
    """The sample installer padded with data after its image (a Windows program runs unchanged
    with such an overlay) to size bytes, signed by the build's test publisher, which the setup
    pins: the signature covers the overlay. Different seeds give different installers."""
    data = RECORDER_UNSIGNED_EXE.read_bytes()
    padding = bytes((i * 131 + overlay_seed * 17 + i // 4093) & 0xFF for i in range(size - len(data)))
    padded = path.with_suffix(".unsigned")
    padded.write_bytes(data + padding)
    signing = WIN_BUILD / "signing"
    subprocess.run(["osslsigncode", "sign", "-certs", signing / "publisher.crt",
                    "-key", signing / "publisher.key", "-h", "sha256", "-in", padded,
                    "-out", path], check=True, capture_output=True)
    padded.unlink()
    return path


@dataclass
class PackageVersions:
    """The package as first published and as changed: two installers of the same size signed by
    the pinned publisher, each packed, so that a package made of pieces of both decodes as
    neither."""
    packages: list
    installers: list

    @classmethod
    def make(cls, folder):
        folder = Path(folder)
        folder.mkdir(parents=True, exist_ok=True)
        installers, packages = [], []
        for version in (0, 1):
            installer = signed_installer(folder / f"installer-{version}.exe", INSTALLER_BYTES,
                                         version)
            # The first version carries the package's own name: the server serves it there.
            name = PACKAGE_NAME if version == 0 else f"changed-{PACKAGE_NAME}"
            installers.append(installer)
            packages.append(pack(installer, folder / name))
        assert len({p.stat().st_size for p in packages}) == 1, "the versions differ in size"
        return cls(packages, installers)

    def version_of(self, data):
        """Which version the bytes are, whole, or None."""
        for number, package in enumerate(self.packages):
            if package.read_bytes() == data:
                return number
        return None


@dataclass
class ChaosLog:
    """What the server drew and answered during a run."""
    profile: dict
    draws: list = field(default_factory=list)
    answers: dict = field(default_factory=dict)
    delivered: dict = field(default_factory=dict)

    @classmethod
    def read(cls, path):
        records = [json.loads(line) for line in Path(path).read_text().splitlines() if line]
        log = cls(records[0])
        for record in records[1:]:
            if record["kind"] == "draw":
                log.draws.append((record["what"], record["behaviour"]))
            elif record["kind"] == "answer":
                log.answers[record["n"]] = record
            elif record["kind"] == "delivered":
                log.delivered[record["n"]] = record["delivered"]
        return log

    def package_arrived(self):
        """Whether an honest answer that made the package whole was read to its end."""
        return any(answer["complete"] and self.delivered.get(number)
                   for number, answer in self.answers.items())

    def restarts(self):
        """Answers to a request for the rest that gave the whole package from byte 0."""
        return sum(1 for a in self.answers.values() if a["range"] and a.get("status") == 200)


class ChaosServer:
    """The chaos mode of the fault server for one seed, on 127.0.0.1, ended with its process
    group; it also ends by itself after lifetime seconds."""

    def __init__(self, seed, versions, profile, http_port, lifetime=1200):
        self.seed, self.profile = seed, profile
        self.folder = Path(tempfile.mkdtemp(prefix="qerv-chaos."))
        self.log_path = self.folder / "chaos.log"
        port_file = self.folder / "ports"
        command = ["timeout", str(lifetime), "/usr/bin/python3", str(FAULT_SERVER),
                   "--port-file", str(port_file), "--cert", str(CERT_DIR / "server.crt"),
                   "--key", str(CERT_DIR / "server.key"), "--lifetime", str(lifetime),
                   "--chaos", str(seed), "--chaos-profile", profile,
                   "--chaos-log", str(self.log_path), "--https-port", str(HTTPS_PORT),
                   "--http-port", str(http_port)]
        for package in versions.packages:
            command += ["--package", str(package)]
        self.process = subprocess.Popen(command, start_new_session=True,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        eventually(lambda: port_file.exists() or self.process.poll() is not None, timeout=30)
        if not port_file.exists():
            self.stop()
            raise RuntimeError("the chaos server did not start (are its ports taken?): "
                               + self.process.stderr.read().decode())
        self.plain_port, self.https_port = map(int, port_file.read_text().split())

    def log(self):
        return ChaosLog.read(self.log_path)

    def stop(self):
        if self.process.poll() is None:
            os.killpg(self.process.pid, signal.SIGKILL)
        self.process.wait()
        self.process.stderr.close()

    def remove(self):
        for path in self.folder.iterdir():
            path.unlink()
        self.folder.rmdir()


def ensure_certificate():
    """The loopback servers' self-signed certificate, made as scripts/with-servers.sh makes it."""
    if (CERT_DIR / "server.crt").exists():
        return
    CERT_DIR.mkdir(parents=True, exist_ok=True)
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "3650",
                    "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1,DNS:localhost",
                    "-keyout", str(CERT_DIR / "server.key"), "-out", str(CERT_DIR / "server.crt")],
                   check=True, capture_output=True)


@contextlib.contextmanager
def chaos_server(seed, versions, profile, http_port):
    """The server for one run; http_port is the proxy's, which the registry names."""
    ensure_certificate()
    server = ChaosServer(seed, versions, profile, http_port)
    try:
        yield server
    finally:
        server.stop()
        server.remove()
