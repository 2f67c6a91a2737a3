"""Commands in one Wine prefix on one display, the prefix's registry, and the trace lines: Wine
prints each OutputDebugString text on its warn+seh channel."""
import contextlib
import os
import re
import signal
import struct
import subprocess
import tempfile
import threading
import time
from pathlib import Path

from qerv_e2e import PROBE_EXE, RECORDER_EXE, ROOT, SESSION_LIFETIME_S, SETUP_EXE

WINE_RUN = ROOT / "scripts" / "wine-run.sh"
HKLM_QERV = r"HKLM\SOFTWARE\Qerv"
RUN_ONCE = r"HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\RunOnce"
PENDING_KEY = r"HKLM\System\CurrentControlSet\Control\Session Manager"
WINHTTP_CONNECTIONS = (r"HKLM\Software\Microsoft\Windows\CurrentVersion\Internet Settings"
                       r"\Connections")
IE_CONNECTIONS = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings\Connections"



def winhttp_settings(proxy):
    """WinHTTP's default proxy as "netsh winhttp set proxy" stores it: version 0x18, a counter,
    the flags (direct and proxy), then the proxy list and the bypass list, each with its length."""
    return struct.pack("<IIII", 0x18, 0, 3, len(proxy)) + proxy.encode() + struct.pack("<I", 0)


def ie_settings(proxy):
    """Internet Explorer's connection settings as its options dialog stores them: as WinHTTP's
    (version 0x46, no automatic detection), then an empty configuration script address and
    reserved bytes."""
    return (struct.pack("<IIII", 0x46, 0, 3, len(proxy)) + proxy.encode()
            + struct.pack("<II", 0, 0) + bytes(32))


# The line is printed when the exception that carries the text is dispatched, for
# OutputDebugStringA and OutputDebugStringW alike.
TRACE_LINE = re.compile(r'^[0-9a-f]+:warn:seh:dispatch_exception "(.*)"$')
# Wine's escapes in it: \n, \r, \t, \\, \", \xHH (a byte of the ANSI text, code page 1252) and
# \HHHH (a UTF-16 unit). A backslash before anything else stands for itself.
ESCAPE = re.compile(r'\\(?:([nrt\\"])|x([0-9a-fA-F]{2})|([0-9a-fA-F]{4}))')


def decode_escape(match):
    simple, byte, unit = match.groups()
    if simple:
        return {"n": "\n", "r": "\r", "t": "\t"}.get(simple, simple)
    if byte:
        return bytes([int(byte, 16)]).decode("cp1252", "replace")
    return chr(int(unit, 16))


def trace_of(raw_line):
    """The trace text carried by one line of Wine's error output, or None."""
    match = TRACE_LINE.match(raw_line)
    return ESCAPE.sub(decode_escape, match.group(1)) if match else None


class Feed:
    """A process's output lines as parse makes them (None: dropped), with their arrival times."""

    def __init__(self, pipe, parse=str):
        self._timed = []
        self._cond = threading.Condition()
        self.thread = threading.Thread(target=self._read, args=(pipe, parse), daemon=True)
        self.thread.start()

    def _read(self, pipe, parse):
        for raw in iter(pipe.readline, b""):
            item = parse(raw.decode("utf-8", "replace").rstrip("\r\n"))
            if item is not None:
                with self._cond:
                    self._timed.append((time.monotonic(), item))
                    self._cond.notify_all()
        pipe.close()

    def timed(self):
        with self._cond:
            return list(self._timed)

    def items(self):
        return [item for _, item in self.timed()]

    def wait(self, predicate, timeout, start=0):
        """The first item from index start on for which predicate holds; None after timeout or
        once the output has ended."""
        deadline = time.monotonic() + timeout
        with self._cond:
            while True:
                for _, item in self._timed[start:]:
                    if predicate(item):
                        return item
                start = len(self._timed)
                remaining = deadline - time.monotonic()
                if remaining <= 0 or not self.thread.is_alive():
                    return None
                self._cond.wait(min(remaining, 0.2))


def kill_group(process):
    if process.poll() is None:
        os.killpg(process.pid, signal.SIGKILL)
    process.wait()


class Wine:
    def __init__(self, display, prefix):
        self.prefix = Path(prefix)
        self.drive_c = self.prefix / "drive_c"
        # Proxies that the user's own environment may name must not reach libcurl or WinHTTP.
        self.env = {k: v for k, v in os.environ.items()
                    if k.lower() not in ("http_proxy", "https_proxy", "all_proxy", "no_proxy")}
        self.env.update(QERV_WINEPREFIX=str(self.prefix), WINEPREFIX=str(self.prefix),
                        DISPLAY=display, WINEDEBUG="-all,warn+seh")

    def run(self, *args, timeout=120, check=True):
        # Output goes through files, not pipes: Wine's own background processes (services, the
        # desktop) may inherit a command's output handles and outlive it.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            code = subprocess.run([str(WINE_RUN), *map(str, args)], env=self.env,
                                  timeout=timeout, stdout=out, stderr=err).returncode
            out.seek(0)
            err.seek(0)
            result = subprocess.CompletedProcess(args, code, out.read().decode("utf-8", "replace"),
                                                 err.read().decode("utf-8", "replace"))
        if check:
            result.check_returncode()
        return result

    def popen(self, *args, debug=None, env=None):
        env = dict(self.env, **(env or {}))
        if debug is not None:
            env["WINEDEBUG"] = debug
        return subprocess.Popen([str(WINE_RUN), *map(str, args)], env=env,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                start_new_session=True)

    # The setup, a 32-bit program, sees HKLM\SOFTWARE through the 32-bit view; keys that have one
    # view only (HKLM\System, HKCU) are used with view None.
    def reg(self, *args, view="/reg:32", check=True):
        return self.run("reg", *args, *([view] if view else []), check=check)

    def reg_add(self, key, name, kind, data, view="/reg:32"):
        self.reg("add", key, "/v", name, "/t", kind, "/d", data, "/f", view=view)

    def reg_delete(self, key, name=None, view="/reg:32"):
        self.reg("delete", key, *(["/v", name] if name is not None else []), "/f", view=view,
                 check=False)

    def reg_query(self, key, name, view="/reg:32"):
        """The value's data as reg prints it, or None when it is not there."""
        for line in self.reg("query", key, "/v", name, view=view, check=False).stdout.splitlines():
            parts = line.split(None, 2) + [""]
            if parts[0] == name and len(parts) >= 3:
                return parts[2]
        return None

    def set_proxies(self, proxy):
        """The user's Internet Explorer proxy and WinHTTP's default proxy, both proxy (host:port),
        or neither with None. Internet Explorer's settings live in the user's own hive, which has
        one view; WinHTTP reads its default proxy in the process's own view, so it is set in
        both, as an administrator sets it on 64-bit Windows."""
        for view in ("/reg:32", "/reg:64"):
            if proxy is None:
                self.reg_delete(WINHTTP_CONNECTIONS, "WinHttpSettings", view=view)
            else:
                self.reg_add(WINHTTP_CONNECTIONS, "WinHttpSettings", "REG_BINARY",
                             winhttp_settings(proxy).hex(), view=view)
        if proxy is None:
            self.reg_delete(IE_CONNECTIONS, "DefaultConnectionSettings", view=None)
        else:
            self.reg_add(IE_CONNECTIONS, "DefaultConnectionSettings", "REG_BINARY",
                         ie_settings(proxy).hex(), view=None)

    def pending_removals(self):
        """The paths scheduled for removal at the next restart, in order. reg shows the list as
        \\??\\SOURCE\\0\\0 pairs (an empty target: removal); a name may itself hold \\0."""
        data = self.reg_query(PENDING_KEY, "PendingFileRenameOperations", view=None) or ""
        return re.findall(r"\\\?\?\\(.+?)\\0(?:\\0|$)", data)

    def unix_path(self, windows_path):
        """The Linux path of a C: path inside the prefix, matching names as Windows does."""
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
        return "C:\\" + str(Path(path).relative_to(self.drive_c)).replace("/", "\\")


@contextlib.contextmanager
def wine_session(display, prefix, window_manager=False):
    """The prefix with one wineserver for the whole session, ended with every Wine process."""
    for program in (SETUP_EXE, PROBE_EXE, RECORDER_EXE):
        assert program.exists(), f"build the windows preset first: {program} is missing"
    wine = Wine(display, prefix)
    wine.run("wineboot", "-i", timeout=300)
    subprocess.run(["wineserver", "-w"], env=wine.env, check=False, timeout=120)
    # Started once: a program started while a server winds down may find none to talk to.
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
        subprocess.run(["wineserver", "-k"], env=wine.env, check=False, capture_output=True)
        try:
            server.wait(timeout=20)
        except subprocess.TimeoutExpired:
            server.kill()
            server.wait()
