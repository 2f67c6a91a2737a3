"""The loopback servers of scripts/with-servers.sh, and the packages that the update server
serves."""
import contextlib
import os
import shutil
import signal
import subprocess
import tempfile
from pathlib import Path

from qerv_e2e import QERV_PACK, ROOT, SESSION_LIFETIME_S, eventually

# The setup's compiled-in server address is https://127.0.0.1:8443/qerv/ (QERV_UPDATE_SERVER).
HTTPS_PORT = 8443
# The prefix is 64-bit, so either build asks for this one: the 32-bit program runs under WOW64, and
# a 64-bit program runs on 64-bit Windows only.
PACKAGE_NAME = "QV3tup2015X64.exe"


@contextlib.contextmanager
def loopback_servers(lifetime=SESSION_LIFETIME_S):
    """The servers for as long as the block runs; their QERV_TEST_* addresses as a dict, with
    "updates" the folder that the update server serves (its /qerv/)."""
    folder = Path(tempfile.mkdtemp(prefix="qerv-e2e-servers."))
    env_file = folder / "env"
    env = dict(os.environ, QERV_HTTPS_PORT=str(HTTPS_PORT), QERV_SERVER_LIFETIME=str(lifetime))
    process = subprocess.Popen(
        [str(ROOT / "scripts" / "with-servers.sh"), "sh", "-c",
         f'env | grep "^QERV_TEST_" > "$0.tmp" && mv "$0.tmp" "$0" && exec sleep {lifetime}',
         str(env_file)],
        env=env, start_new_session=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    try:
        eventually(lambda: env_file.exists() or process.poll() is not None, timeout=30)
        assert env_file.exists(), ("the loopback servers did not start: "
                                   + process.stderr.read().decode())
        values = dict(line.split("=", 1) for line in env_file.read_text().splitlines())
        values["updates"] = Path(values["QERV_TEST_WWW"]) / "qerv"
        values["updates"].mkdir(parents=True, exist_ok=True)
        yield values
    finally:
        # The sleep ends; with-servers.sh then stops every server it started.
        if process.poll() is None:
            os.killpg(process.pid, signal.SIGTERM)
        process.wait(timeout=30)
        shutil.rmtree(folder, ignore_errors=True)


def pack(installer, package, signers=()):
    """Packs installer into package with the publisher's tool, which refuses an installer that
    none of the signers' pins signed, when any are given."""
    pins = [argument for pin in signers for argument in ("--signer", pin)]
    subprocess.run([str(QERV_PACK), "pack", str(installer), str(package), *pins], check=True,
                   capture_output=True)
    return package


def inspect(path):
    """What the publisher's tool reports of a package or an installer, line by line."""
    return subprocess.run([str(QERV_PACK), "inspect", str(path)], check=True, capture_output=True,
                          text=True).stdout.splitlines()
