"""Running the real QervSetupOnline.exe under Wine and Xvfb beside loopback servers, and reading
what a user and an administrator would see. Shared by the end-to-end tests (conftest.py), the demo
(scripts/demo.sh) and the whole-run benchmark (bench/setup_run_bench.py); Python's standard
library only.

- windows and their texts: a small Windows probe (e2e_window_probe.exe) reads the setup's dialog
  and message boxes from another process, since Wine gives child controls no X windows; boxes are
  answered with real xdotool clicks;
- trace lines: Wine prints every OutputDebugString text on its warn+seh channel;
- the download trace log, the files left behind, Wine's registry, and the command line that the
  sample installer (flow_recorder.exe) records.
"""
import contextlib
import json
import os
import re
import shutil
import signal
import subprocess
import tempfile
import threading
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]


def wine_arch():
    """"32" where Wine's 32-bit loader runs (the shipped 32-bit program is tested), else "64" (the
    64-bit build stands in for it); scripts/wine-arch.sh decides for every runner."""
    return subprocess.run([str(ROOT / "scripts" / "wine-arch.sh")], check=True,
                          capture_output=True, text=True).stdout.strip()


WINE_ARCH = wine_arch()
WIN_BUILD = Path(os.environ.get(
    "QERV_WIN_BUILD", ROOT / "build" / ("windows" if WINE_ARCH == "32" else "windows-x64")))
HOST_BUILD = Path(os.environ.get("QERV_HOST_BUILD", ROOT / "build" / "host-release"))
WINE_RUN = ROOT / "scripts" / "wine-run.sh"
WITH_SERVERS = ROOT / "scripts" / "with-servers.sh"
SETUP_EXE = WIN_BUILD / "src" / "app" / "QervSetupOnline.exe"
# The same setup, but its update server is https://qerv-update.test:8443/qerv/, a name that only
# the loopback proxies resolve: its direct attempts fail and a proxy attempt can work.
PROXY_NAME_SETUP_EXE = WIN_BUILD / "tests" / "e2e" / "proxy-name" / "QervSetupOnline.exe"
PROBE_EXE = WIN_BUILD / "tests" / "e2e" / "e2e_window_probe.exe"
RECORDER_EXE = WIN_BUILD / "fixtures_flow" / "flow_recorder.exe"
VERSIONED_EXE = WIN_BUILD / "fixtures_flow" / "flow_versioned.exe"
QERV_PACK = HOST_BUILD / "tools" / "qerv-pack" / "qerv-pack"
# The setup's compiled-in server address is https://127.0.0.1:8443/qerv/ (QERV_UPDATE_SERVER).
HTTPS_PORT = 8443
# The prefix is 64-bit, so either build asks for this one: the 32-bit program runs under WOW64, and
# a 64-bit program runs on 64-bit Windows only.
PACKAGE_NAME = "QV3tup2015X64.exe"
CAPTION = "Qerv Vantorel Installation"
# Boxes shown through the framework carry the application name, the executable's name.
APP_CAPTION = "QervSetupOnline"
LOG_FILE = "WinHTTPLib.log"
# Screenshots that the tests keep for people to look at.
ARTIFACTS = ROOT / "artifacts" / "e2e"

HKLM_QERV = r"HKLM\SOFTWARE\Qerv"
RUN_ONCE = r"HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\RunOnce"
PENDING_KEY = r"HKLM\System\CurrentControlSet\Control\Session Manager"
WINHTTP_CONNECTIONS = (r"HKLM\Software\Microsoft\Windows\CurrentVersion\Internet Settings"
                       r"\Connections")
IE_CONNECTIONS = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings\Connections"

# Wine prints each debug string on its seh channel when the exception that carries it is
# dispatched; this line exists for OutputDebugStringA and OutputDebugStringW alike.
TRACE_LINE = re.compile(r'^[0-9a-f]+:warn:seh:dispatch_exception "(.*)"$')
# Proxies that a user's own environment may name must not reach libcurl or WinHTTP under Wine.
PROXY_VARIABLES = ("http_proxy", "https_proxy", "all_proxy", "no_proxy", "HTTP_PROXY",
                   "HTTPS_PROXY", "ALL_PROXY", "NO_PROXY")
SESSION_LIFETIME_S = 1800
# A hidden run hides the dialog twice: when the worker starts and, if the dialog was not shown
# yet, half a second later. It may show for that long, no more.
HIDDEN_RUN_FLASH_S = 1.0


def decode_wine_string(text):
    """Undoes Wine's debug-string escapes: \\n, \\r, \\t, \\\\, \\", \\xHH (a byte of the ANSI
    text, code page 1252) and \\HHHH (a UTF-16 unit)."""
    out = []
    i = 0
    simple = {"n": "\n", "r": "\r", "t": "\t", "\\": "\\", '"': '"'}
    while i < len(text):
        c = text[i]
        if c != "\\" or i + 1 == len(text):
            out.append(c)
            i += 1
            continue
        nxt = text[i + 1]
        if nxt in simple:
            out.append(simple[nxt])
            i += 2
        elif nxt == "x" and re.fullmatch(r"[0-9a-fA-F]{2}", text[i + 2:i + 4]):
            out.append(bytes([int(text[i + 2:i + 4], 16)]).decode("cp1252", "replace"))
            i += 4
        elif re.fullmatch(r"[0-9a-fA-F]{4}", text[i + 1:i + 5]):
            out.append(chr(int(text[i + 1:i + 5], 16)))
            i += 5
        else:
            out.append(c)
            i += 1
    return "".join(out)


def trace_of(raw_line):
    """The trace text carried by one line of Wine's error output, or None."""
    match = TRACE_LINE.match(raw_line)
    return decode_wine_string(match.group(1)) if match else None


class Wine:
    """Runs commands in one prefix on one display."""

    def __init__(self, display, prefix):
        self.display = display
        self.prefix = Path(prefix)
        self.env = {k: v for k, v in os.environ.items() if k not in PROXY_VARIABLES}
        self.env.update(QERV_WINEPREFIX=str(self.prefix), WINEPREFIX=str(self.prefix),
                        DISPLAY=display, WINEDEBUG="-all,warn+seh")
        self.drive_c = self.prefix / "drive_c"

    def run(self, *args, timeout=120, check=True):
        # Output goes through files, not pipes: Wine's own background processes (services, the
        # desktop) may inherit a command's output handles and outlive it.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            process = subprocess.run([str(WINE_RUN), *map(str, args)], env=self.env,
                                     timeout=timeout, stdout=out, stderr=err)
            out.seek(0)
            err.seek(0)
            result = subprocess.CompletedProcess(
                process.args, process.returncode, out.read().decode("utf-8", "replace"),
                err.read().decode("utf-8", "replace"))
        if check:
            result.check_returncode()
        return result

    def popen(self, *args, debug=None):
        env = self.env if debug is None else dict(self.env, WINEDEBUG=debug)
        return subprocess.Popen([str(WINE_RUN), *map(str, args)], env=env,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                start_new_session=True)

    def reg_add(self, key, name, kind, data, view="/reg:32"):
        self.run("reg", "add", key, "/v", name, "/t", kind, "/d", str(data), "/f",
                 *([view] if view else []))

    def reg_delete(self, key, name=None, view="/reg:32"):
        args = ["reg", "delete", key] + (["/v", name] if name is not None else []) + ["/f"]
        self.run(*args, *([view] if view else []), check=False)

    def reg_query(self, key, name, view="/reg:32"):
        r"""The value's data as reg prints it, or None when it is not there. The setup, a 32-bit
        program, sees HKLM\SOFTWARE through the 32-bit view; keys that have one view only
        (HKLM\System, HKCU) are asked for with view None."""
        result = self.run("reg", "query", key, "/v", name, *([view] if view else []),
                          check=False)
        for line in result.stdout.splitlines():
            parts = line.split(None, 2)
            if len(parts) >= 2 and parts[0] == name:
                return parts[2] if len(parts) == 3 else ""
        return None

    def unix_path(self, windows_path):
        """The Linux path of a C: path inside the prefix, matching names without regard to case
        as Windows does."""
        drive, _, rest = windows_path.partition(":\\")
        assert drive.upper() == "C", windows_path
        path = self.drive_c
        for part in [p for p in rest.split("\\") if p]:
            exact = path / part
            if not exact.exists() and path.is_dir():
                exact = next((e for e in path.iterdir() if e.name.lower() == part.lower()), exact)
            path = exact
        return path

    def windows_path(self, path):
        """The C: path of a Linux path inside the prefix."""
        return "C:\\" + str(Path(path).relative_to(self.drive_c)).replace("/", "\\")

    def stop(self):
        subprocess.run(["wineserver", "-k"], env=self.env, check=False, capture_output=True)


@contextlib.contextmanager
def xvfb_display():
    """A private X display of its own, stopped afterwards."""
    number = 90
    while Path(f"/tmp/.X11-unix/X{number}").exists() or Path(f"/tmp/.X{number}-lock").exists():
        number += 1
    xvfb = subprocess.Popen(["timeout", str(SESSION_LIFETIME_S), "Xvfb", f":{number}", "-screen",
                             "0", "1024x768x24", "-nolisten", "tcp"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        for _ in range(100):
            if Path(f"/tmp/.X11-unix/X{number}").exists():
                break
            time.sleep(0.1)
        yield f":{number}"
    finally:
        xvfb.terminate()
        xvfb.wait(timeout=10)


@contextlib.contextmanager
def wine_session(display, prefix, window_manager=False):
    """The prefix with one wineserver for the whole session; the server and every Wine process go
    at the end. Without a window manager on the display (a private Xvfb), Wine is set up to do
    without one."""
    for program in (SETUP_EXE, PROBE_EXE, RECORDER_EXE):
        assert program.exists(), f"build the windows preset first: {program} is missing"
    wine = Wine(display, prefix)
    wine.run("wineboot", "-i", timeout=300)
    subprocess.run(["wineserver", "-w"], env=wine.env, check=False, timeout=120)
    # One server for the whole session: starting and stopping one around every command costs
    # time, and a program started while the last one winds down may find no server to talk to.
    # Its lifetime is capped in case the session itself is killed.
    server = subprocess.Popen(["timeout", str(SESSION_LIFETIME_S), "wineserver", "-f", "-p"],
                              env=wine.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        # Without a window manager Wine draws the frames itself, and does not wait for a manager
        # to confirm that a window was hidden (which would take two seconds each time).
        for name in ("Decorated", "Managed"):
            if window_manager:
                wine.reg_delete(r"HKCU\Software\Wine\X11 Driver", name, view=None)
            else:
                wine.reg_add(r"HKCU\Software\Wine\X11 Driver", name, "REG_SZ", "N", view=None)
        # The session's background processes (services, the desktop with its notification area)
        # start with the first programs; started here, they hold no later program's pipes open.
        subprocess.run([str(WINE_RUN), str(PROBE_EXE), "watch", "50", "100"], env=wine.env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120,
                       check=True)
        yield wine
    finally:
        wine.stop()
        try:
            server.wait(timeout=20)
        except subprocess.TimeoutExpired:
            server.kill()
            server.wait()


@contextlib.contextmanager
def loopback_servers(lifetime=SESSION_LIFETIME_S):
    """scripts/with-servers.sh for as long as the block runs; their addresses as a dict, with
    "www" the document root (the update server's files go under www/qerv/)."""
    folder = Path(tempfile.mkdtemp(prefix="qerv-e2e-servers."))
    env_file = folder / "env"
    env = dict(os.environ, QERV_HTTPS_PORT=str(HTTPS_PORT), QERV_SERVER_LIFETIME=str(lifetime))
    process = subprocess.Popen(
        [str(WITH_SERVERS), "sh", "-c", 'env | grep "^QERV_TEST_" > "$0.tmp" && mv "$0.tmp" "$0" '
         f"&& exec sleep {lifetime}", str(env_file)],
        env=env, start_new_session=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    try:
        for _ in range(300):
            if env_file.exists() or process.poll() is not None:
                break
            time.sleep(0.1)
        assert env_file.exists(), ("the loopback servers did not start: "
                                   + process.stderr.read().decode())
        values = dict(line.split("=", 1) for line in env_file.read_text().splitlines())
        values["www"] = Path(values["QERV_TEST_WWW"])
        yield values
    finally:
        # The sleep ends; with-servers.sh then stops every server it started.
        if process.poll() is None:
            os.killpg(process.pid, signal.SIGTERM)
        process.wait(timeout=30)
        shutil.rmtree(folder, ignore_errors=True)


def pack(installer, package, key=None):
    args = [str(QERV_PACK), "pack", str(installer), str(package)]
    if key:
        args += ["--key", key]
    subprocess.run(args, check=True, capture_output=True)


class Stream:
    """Collects a process's output lines as they arrive, each with its arrival time."""

    def __init__(self, pipe):
        self.lines = []
        self.cond = threading.Condition()
        self.thread = threading.Thread(target=self._read, args=(pipe,), daemon=True)
        self.thread.start()

    def _read(self, pipe):
        for raw in iter(pipe.readline, b""):
            line = raw.decode("utf-8", "replace").rstrip("\r\n")
            with self.cond:
                self.lines.append((time.monotonic(), line))
                self.cond.notify_all()
        pipe.close()

    def snapshot(self):
        with self.cond:
            return list(self.lines)

    def wait(self, predicate, timeout):
        """The first (time, line) for which predicate holds, waiting up to timeout seconds."""
        deadline = time.monotonic() + timeout
        seen = 0
        with self.cond:
            while True:
                for stamp, line in self.lines[seen:]:
                    if predicate(line):
                        return stamp, line
                seen = len(self.lines)
                remaining = deadline - time.monotonic()
                if remaining <= 0 or not self.thread.is_alive() and seen == len(self.lines):
                    return None
                self.cond.wait(min(remaining, 0.2))


class SetupRun:
    """One run of the setup from its folder in the prefix, its trace lines read as they come.

    It is started through the probe's run command, which gives the exit code that Windows gives
    a parent process: a Wine process that has ended all its threads but is slow to leave is
    killed by the wineserver after a second, and its Linux exit status is then lost. With
    launcher False it is started directly, one process fewer (for timing)."""

    def __init__(self, wine, folder, arguments=(), launcher=True):
        self.wine = wine
        self.folder = Path(folder)
        self.launcher = launcher
        program = self.folder / SETUP_EXE.name
        self.started = time.monotonic()
        if launcher:
            self.process = wine.popen(PROBE_EXE, "run", wine.windows_path(program), *arguments)
        else:
            self.process = wine.popen(program, *arguments)
        self.out = Stream(self.process.stdout)
        self.err = Stream(self.process.stderr)

    def wait(self, timeout=120):
        """The setup's exit code, once it has ended."""
        try:
            code = self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.kill()
            raise
        self.out.thread.join(timeout=10)
        self.err.thread.join(timeout=10)
        if self.launcher:
            reported = [line for _, line in self.out.snapshot() if line.startswith("exit code: ")]
            assert reported, f"the setup was not started: {self.out.snapshot()}"
            return int(reported[-1].split(": ", 1)[1])
        return code

    def kill(self):
        if self.process.poll() is None:
            os.killpg(self.process.pid, signal.SIGKILL)
            self.process.wait()

    @property
    def timed_traces(self):
        """(arrival time, text) of every trace line so far."""
        found = ((stamp, trace_of(raw)) for stamp, raw in self.err.snapshot())
        return [(stamp, text) for stamp, text in found if text is not None]

    @property
    def traces(self):
        return [text for _, text in self.timed_traces]

    def wait_trace(self, pattern, timeout=60):
        """The first trace text that matches the regular expression, waiting for it."""
        found = self.err.wait(lambda raw: re.search(pattern, trace_of(raw) or "\0") is not None,
                              timeout)
        assert found, f"no trace matching {pattern!r}; traces so far: {self.traces}"
        return trace_of(found[1])

    def trace_value(self, prefix):
        """What follows prefix in the first trace that starts with it."""
        for text in self.traces:
            if text.startswith(prefix):
                return text[len(prefix):]
        raise AssertionError(f"no trace starting with {prefix!r} in {self.traces}")

    def download_folder(self):
        """The download folder this run made, as a Linux path."""
        return self.wine.unix_path(self.trace_value("szDirectoryDownload : "))


class WindowWatch:
    """What the probe sees of the setup's windows over time: a list of states, each the list of
    the setup's top-level dialog windows (the dialog and any message box) at that moment, as
    dicts (see tests/e2e/probe/window_probe.cpp)."""

    def __init__(self, wine, period_ms=50, duration_s=SESSION_LIFETIME_S):
        self.process = wine.popen(PROBE_EXE, "watch", period_ms, duration_s * 1000, debug="-all")
        self.states = []
        self.cond = threading.Condition()
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()
        # The probe's first line (nothing, or what is open already) says that it is looking.
        self.wait(lambda windows: True, timeout=30, what="the probe to start")

    def _read(self):
        for raw in iter(self.process.stdout.readline, b""):
            try:
                state = json.loads(raw.decode("utf-8"))
            except ValueError:
                continue
            with self.cond:
                self.states.append((time.monotonic(), state["windows"]))
                self.cond.notify_all()

    def wait(self, predicate, timeout=30, what="the expected windows"):
        """The first state, from the present one on, for which predicate holds."""
        deadline = time.monotonic() + timeout
        with self.cond:
            seen = max(len(self.states) - 1, 0)
            while True:
                for _, windows in self.states[seen:]:
                    if predicate(windows):
                        return windows
                seen = len(self.states)
                remaining = deadline - time.monotonic()
                assert remaining > 0, f"timed out waiting for {what}; last: {self.latest()}"
                self.cond.wait(min(remaining, 0.2))

    def latest(self):
        with self.cond:
            return self.states[-1][1] if self.states else None

    def history(self):
        """(arrival time, state) of every change seen."""
        with self.cond:
            return list(self.states)

    def status_texts(self):
        """The distinct texts of the dialog's status line while shown, in order."""
        texts = []
        for _, windows in self.history():
            for window in dialogs(windows):
                status = window.get("status")
                if status and window["visible"] and (not texts or texts[-1] != status):
                    texts.append(status)
        return texts

    def shown_seconds(self):
        """How long the dialog was shown, summed over the changes seen."""
        history = self.history()
        shown = 0.0
        for (stamp, windows), (later, _) in zip(history, history[1:]):
            if any(window["visible"] for window in dialogs(windows)):
                shown += later - stamp
        return shown

    def any_box(self):
        return any(boxes(windows) for _, windows in self.history())

    def stop(self):
        if self.process.poll() is None:
            os.killpg(self.process.pid, signal.SIGKILL)
        self.process.wait()


def dialogs(windows):
    return [w for w in windows if w.get("kind") == "dialog"]


def boxes(windows):
    return [w for w in windows if w.get("kind") == "box" and w["visible"]]


def visible_dialog(windows):
    """The setup dialog when it is shown and answers (its status text can be read)."""
    return next((w for w in dialogs(windows) if w["visible"] and w.get("status") is not None), None)


def click(display, x, y):
    """A real left click at a screen point. Wine needs to see the pointer arrive before it takes
    the press, and a short press, as a hand would give."""
    env = dict(os.environ, DISPLAY=display)
    subprocess.run(["xdotool", "mousemove", str(x), str(y)], env=env, check=True)
    time.sleep(0.25)
    subprocess.run(["xdotool", "mousedown", "1"], env=env, check=True)
    time.sleep(0.1)
    subprocess.run(["xdotool", "mouseup", "1"], env=env, check=True)


def center(rect):
    left, top, right, bottom = rect
    return (left + right) // 2, (top + bottom) // 2


def answer(display, box, label):
    """Clicks the box's button whose text (without its mnemonic mark) is label."""
    for button in box["buttons"]:
        if (button["text"] or "").replace("&", "") == label:
            click(display, *center(button["rect"]))
            return
    raise AssertionError(f"no button {label!r} in {box}")


def key(display, name):
    """A key press for whatever window has the keyboard focus."""
    subprocess.run(["xdotool", "key", name], env=dict(os.environ, DISPLAY=display), check=True)


def x_windows(display, name, timeout=0):
    """Visible X windows whose name is exactly name, waiting up to timeout seconds for one."""
    deadline = time.monotonic() + timeout
    while True:
        result = subprocess.run(
            ["xdotool", "search", "--onlyvisible", "--name", f"^{re.escape(name)}$"],
            env=dict(os.environ, DISPLAY=display), capture_output=True, text=True)
        found = result.stdout.split()
        if found or time.monotonic() >= deadline:
            return found
        time.sleep(0.2)


def raise_x_windows(display, name):
    """Puts the visible X windows named name on top. Without a window manager Wine does not
    always keep an owned box above its owner once the owner is brought back to the front, which a
    window manager (and Windows) would."""
    for window in x_windows(display, name):
        subprocess.run(["xdotool", "windowraise", window], env=dict(os.environ, DISPLAY=display),
                       check=True)
    time.sleep(0.3)


def x_geometry(display, window):
    """(x, y, width, height) of an X window."""
    result = subprocess.run(["xdotool", "getwindowgeometry", "--shell", window],
                            env=dict(os.environ, DISPLAY=display), capture_output=True, text=True,
                            check=True)
    values = dict(line.split("=", 1) for line in result.stdout.split())
    return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])


def screenshot(display, path, rect=None):
    """The screen, or the rectangle (left, top, right, bottom) of it, as a PNG."""
    path = Path(path)
    path.parent.mkdir(parents=True, exist_ok=True)
    args = ["/usr/bin/import", "-window", "root"]
    if rect is not None:
        left, top, right, bottom = rect
        args += ["-crop", f"{right - left}x{bottom - top}+{left}+{top}", "+repage"]
    subprocess.run(args + [str(path)], env=dict(os.environ, DISPLAY=display), check=True)
    return path


def is_centred(window):
    """Whether the window stands in the middle of its monitor's work area, to the pixel that an
    odd difference in size leaves."""
    left, top, right, bottom = window["rect"]
    area_left, area_top, area_right, area_bottom = window["work_area"]
    return (abs((left + right) - (area_left + area_right)) <= 1
            and abs((top + bottom) - (area_top + area_bottom)) <= 1)


# The colours that tell the system's box icons apart: the exclamation mark's yellow triangle, the
# error's red disc, and the blue of the question mark (and of the information sign).
ICON_COLOURS = {
    "exclamation": lambda r, g, b: r > 180 and g > 150 and b < 100,
    "error": lambda r, g, b: r > 150 and g < 90 and b < 90,
    "question": lambda r, g, b: b > 150 and r < 110,
}


def box_icon(display, box):
    """Which system icon a message box shows, read from the screen: "exclamation", "error",
    "question", or None when it shows none."""
    if box.get("icon_rect") is None:
        return None
    left, top, right, bottom = box["icon_rect"]
    with tempfile.TemporaryDirectory() as folder:
        path = screenshot(display, Path(folder) / "icon.png", box["icon_rect"])
        pixels = subprocess.run(["convert", str(path), "rgb:-"], capture_output=True,
                                check=True).stdout
    assert len(pixels) == 3 * (right - left) * (bottom - top), "unexpected picture size"
    counts = {name: 0 for name in ICON_COLOURS}
    for i in range(0, len(pixels), 3):
        r, g, b = pixels[i:i + 3]
        for name, matches in ICON_COLOURS.items():
            counts[name] += matches(r, g, b)
    name, count = max(counts.items(), key=lambda item: item[1])
    return name if count > 0 else None


def read_recorded(path):
    """The command line and current folder that the sample program recorded at path."""
    command_line, _, folder = Path(path).read_bytes().decode("utf-16-le").partition("\n")
    return command_line, folder


def eventually(condition, timeout=10):
    """Whether condition() comes true within timeout seconds."""
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() >= deadline:
            return False
        time.sleep(0.2)
    return True


def wait_for_file(path, timeout=30):
    deadline = time.monotonic() + timeout
    while not path.exists():
        assert time.monotonic() < deadline, f"{path} did not appear"
        time.sleep(0.1)
    return path


def log_lines_since(wine, offset):
    """The download trace log's lines written after offset bytes."""
    log = wine.drive_c / LOG_FILE
    if not log.exists():
        return []
    with open(log, "rb") as stream:
        stream.seek(offset)
        return stream.read().decode("latin-1").split("\r\n")[:-1]


def log_size(wine):
    log = wine.drive_c / LOG_FILE
    return log.stat().st_size if log.exists() else 0
