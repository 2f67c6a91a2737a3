"""End-to-end harness: the real QervSetupOnline.exe under Wine and Xvfb, beside loopback servers.

Each test gets a fresh program folder inside the Wine prefix, with the setup copied into it, and
reads what a user and an administrator would see: windows (through xdotool), the debugger output
(Wine prints OutputDebugString lines on its warn+seh channel), the download trace log, the files
left behind, Wine's registry and the command line that the sample installer records.
"""
import codecs
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
WIN_BUILD = Path(os.environ.get("QERV_WIN_BUILD", ROOT / "build" / "windows"))
HOST_BUILD = Path(os.environ.get("QERV_HOST_BUILD", ROOT / "build" / "host-release"))
WINE_RUN = ROOT / "scripts" / "wine-run.sh"
WITH_SERVERS = ROOT / "scripts" / "with-servers.sh"
SETUP_EXE = WIN_BUILD / "src" / "app" / "QervSetupOnline.exe"
RECORDER_EXE = WIN_BUILD / "fixtures_flow" / "flow_recorder.exe"
QERV_PACK = HOST_BUILD / "tools" / "qerv-pack" / "qerv-pack"
PREFIX = Path(os.environ.get("QERV_E2E_WINEPREFIX", WIN_BUILD / "wineprefix-e2e"))
# The setup's compiled-in server address is https://127.0.0.1:8443/qerv/ (QERV_UPDATE_SERVER).
HTTPS_PORT = 8443
PACKAGE_NAME = "QV3tup2015X64.exe"  # the prefix is 64-bit, so the setup asks for this one
CAPTION = "Qerv Vantorel Installation"
TRACE_LINE = re.compile(r'^[0-9a-f]+:warn:seh:OutputDebugStringA "(.*)"$')


def unix_to_wine(path):
    return "Z:" + str(path).replace("/", "\\")


def decode_wine_string(text):
    """Wine prints debug strings with C escapes (\\n, \\\\, \\xNN)."""
    return codecs.escape_decode(text.encode("latin-1", "backslashreplace"))[0].decode("latin-1")


def traces_of(stderr_text):
    lines = []
    for raw in stderr_text.splitlines():
        match = TRACE_LINE.match(raw)
        if match:
            lines.append(decode_wine_string(match.group(1)))
    return lines


class Wine:
    """Runs commands in the e2e prefix on the test display."""

    def __init__(self, display):
        self.env = dict(os.environ)
        self.env.update(
            QERV_WINEPREFIX=str(PREFIX),
            DISPLAY=display,
            WINEDEBUG="-all,warn+seh",
        )
        self.drive_c = PREFIX / "drive_c"

    def run(self, *args, timeout=120, check=True):
        return subprocess.run([str(WINE_RUN), *map(str, args)], env=self.env, timeout=timeout,
                              check=check, capture_output=True, text=True, errors="replace")

    def popen(self, *args):
        return subprocess.Popen([str(WINE_RUN), *map(str, args)], env=self.env,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                errors="replace", start_new_session=True)

    def reg_add(self, key, name, kind, data):
        self.run("reg", "add", key, "/v", name, "/t", kind, "/d", str(data), "/f", "/reg:32")

    def reg_delete(self, key, name=None):
        args = ["reg", "delete", key, "/f", "/reg:32"]
        if name is not None:
            args[3:3] = ["/v", name]
        self.run(*args, check=False)

    def reg_query(self, key, name):
        result = self.run("reg", "query", key, "/v", name, "/reg:32", check=False)
        for line in result.stdout.splitlines():
            parts = line.split(None, 2)
            if len(parts) == 3 and parts[0] == name:
                return parts[2]
        return None

    def stop(self):
        subprocess.run(["wineserver", "-k"], env=dict(self.env, WINEPREFIX=str(PREFIX)),
                       check=False, capture_output=True)


@pytest.fixture(scope="session")
def display():
    number = 90
    while Path(f"/tmp/.X11-unix/X{number}").exists() or Path(f"/tmp/.X{number}-lock").exists():
        number += 1
    xvfb = subprocess.Popen(["timeout", "1800", "Xvfb", f":{number}", "-screen", "0",
                             "1024x768x24", "-nolisten", "tcp"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(100):
        if Path(f"/tmp/.X11-unix/X{number}").exists():
            break
        time.sleep(0.1)
    yield f":{number}"
    xvfb.terminate()
    xvfb.wait(timeout=10)


@pytest.fixture(scope="session")
def wine(display):
    assert SETUP_EXE.exists(), f"build the windows preset first: {SETUP_EXE}"
    runner = Wine(display)
    runner.run("wineboot", "-i", timeout=300)
    # No window manager runs on the test display: Wine draws the frames itself.
    runner.run("reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Decorated", "/d", "N", "/f")
    yield runner
    runner.stop()


@pytest.fixture(scope="session")
def servers():
    """Loopback servers for the whole session; their addresses come back as a dict."""
    folder = Path(tempfile.mkdtemp(prefix="qerv-e2e-servers."))
    env_file = folder / "env"
    env = dict(os.environ, QERV_HTTPS_PORT=str(HTTPS_PORT), QERV_SERVER_LIFETIME="1800")
    process = subprocess.Popen(
        [str(WITH_SERVERS), "sh", "-c", 'env | grep "^QERV_TEST_" > "$0.tmp" && mv "$0.tmp" "$0" '
         "&& exec sleep 1800", str(env_file)],
        env=env, start_new_session=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    for _ in range(300):
        if env_file.exists() or process.poll() is not None:
            break
        time.sleep(0.1)
    assert env_file.exists(), "the loopback servers did not start: " + process.stderr.read().decode()
    values = dict(line.split("=", 1) for line in env_file.read_text().splitlines())
    values["www"] = Path(values["QERV_TEST_WWW"])
    yield values
    # The sleep ends; with-servers.sh then stops every server it started.
    os.killpg(process.pid, signal.SIGTERM)
    process.wait(timeout=30)
    shutil.rmtree(folder, ignore_errors=True)


def pack(installer, package, key=None):
    args = [str(QERV_PACK), "pack", str(installer), str(package)]
    if key:
        args += ["--key", key]
    subprocess.run(args, check=True, capture_output=True)


@pytest.fixture
def publish(servers):
    """Puts a package on the update server; removes it after the test."""
    published = []

    def put(installer=RECORDER_EXE, name=PACKAGE_NAME, raw=None):
        target = servers["www"] / "qerv" / name
        target.parent.mkdir(parents=True, exist_ok=True)
        if raw is not None:
            target.write_bytes(raw)
        else:
            pack(installer, target)
        published.append(target)
        return target

    yield put
    for target in published:
        target.unlink(missing_ok=True)


class SetupRun:
    """One run of the setup from its own program folder."""

    def __init__(self, wine, folder, process):
        self.wine = wine
        self.folder = folder
        self.process = process
        self.stdout = ""
        self.stderr = ""

    def wait(self, timeout=180):
        try:
            self.stdout, self.stderr = self.process.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            os.killpg(self.process.pid, signal.SIGKILL)
            self.stdout, self.stderr = self.process.communicate()
            raise
        return self.process.returncode

    @property
    def traces(self):
        return traces_of(self.stderr)


@pytest.fixture
def setup_folder(wine, request):
    """A fresh program folder in the prefix, holding a copy of the setup."""
    name = re.sub(r"[^A-Za-z0-9]+", "-", request.node.name)[:60]
    folder = wine.drive_c / "qerv-e2e" / name
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    shutil.copy2(SETUP_EXE, folder / SETUP_EXE.name)
    yield folder
    shutil.rmtree(folder, ignore_errors=True)


@pytest.fixture
def start_setup(wine, setup_folder):
    runs = []

    def start(*arguments):
        process = wine.popen(setup_folder / SETUP_EXE.name, *arguments)
        run = SetupRun(wine, setup_folder, process)
        runs.append(run)
        return run

    yield start
    for run in runs:
        if run.process.poll() is None:
            os.killpg(run.process.pid, signal.SIGKILL)
            run.process.communicate()
    wine.stop()


def find_windows(display, title, timeout=30):
    """Window ids whose name is title, waiting until one shows up or time runs out."""
    deadline = time.time() + timeout
    while True:
        result = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", f"^{re.escape(title)}$"],
                                env=dict(os.environ, DISPLAY=display), capture_output=True, text=True)
        ids = result.stdout.split()
        if ids or time.time() > deadline:
            return ids
        time.sleep(0.3)


def press(display, window, key):
    env = dict(os.environ, DISPLAY=display)
    subprocess.run(["xdotool", "windowactivate", "--sync", window], env=env, check=False,
                   capture_output=True)
    subprocess.run(["xdotool", "key", "--window", window, key], env=env, check=True)


def screenshot(display, path):
    path.parent.mkdir(parents=True, exist_ok=True)
    subprocess.run(["/usr/bin/import", "-window", "root", str(path)],
                   env=dict(os.environ, DISPLAY=display), check=True)
    return path
