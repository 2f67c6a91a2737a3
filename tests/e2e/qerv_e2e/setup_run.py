"""One run of the setup from its folder in the prefix, and what it leaves behind: its trace lines,
the download folder, the command line that the sample installer records, the download trace log."""
import re
import subprocess
import time
from pathlib import Path

from qerv_e2e import PROBE_EXE, SETUP_EXE, eventually
from qerv_e2e.wine import Feed, kill_group, trace_of

# Wine's loader reports each DLL it loads: Loaded L"C:\\path\\name.dll" at ...: native
LOADED_DLL = re.compile(r'trace:loaddll:.*Loaded L"([^"]+)"')

# A hidden run hides the dialog twice: when the worker starts and, if the dialog was not shown
# yet, half a second later. It may show for that long, no more.
HIDDEN_RUN_FLASH_S = 1.0


class SetupRun:
    """The setup, started through the probe's run command, which gives the exit code that Windows
    gives a parent process: a Wine process that has ended all its threads but is slow to leave is
    killed by the wineserver after a second, and its Linux exit status is then lost. With launcher
    False it is started directly, one process fewer (for timing)."""

    def __init__(self, wine, folder, arguments=(), launcher=True, env=None, loader_lines=False):
        self.wine = wine
        self.folder = Path(folder)
        self.launcher = launcher
        program = self.folder / SETUP_EXE.name
        self.started = time.monotonic()
        start = [PROBE_EXE, "run", wine.windows_path(program)] if launcher else [program]
        # With loader_lines, Wine also reports every DLL it loads into the setup (loaded()).
        debug = "-all,warn+seh,+loaddll" if loader_lines else None
        self.process = wine.popen(*start, *arguments, debug=debug, env=env)
        self.out = Feed(self.process.stdout)
        self._loaded = []
        self.trace_feed = Feed(self.process.stderr, self._parse_error_line)

    def wait(self, timeout=120):
        """The setup's exit code, once it has ended."""
        try:
            code = self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.kill()
            raise
        self.out.thread.join(timeout=10)
        self.trace_feed.thread.join(timeout=10)
        if not self.launcher:
            return code
        reported = [line for line in self.out.items() if line.startswith("exit code: ")]
        assert reported, f"the setup was not started: {self.out.items()}"
        return int(reported[-1].split(": ", 1)[1])

    def kill(self):
        kill_group(self.process)

    def _parse_error_line(self, line):
        loaded = LOADED_DLL.search(line)
        if loaded:
            self._loaded.append(loaded.group(1).replace("\\\\", "\\"))
        return trace_of(line)

    def loaded(self):
        """The paths of the DLLs that Wine loaded, as its loader reported them."""
        return list(self._loaded)

    @property
    def traces(self):
        return self.trace_feed.items()

    def wait_trace(self, pattern, timeout=60):
        """The first trace text that matches the regular expression, waiting for it."""
        found = self.trace_feed.wait(lambda text: re.search(pattern, text), timeout)
        assert found is not None, f"no trace matching {pattern!r}; traces so far: {self.traces}"
        return found

    def download_folder(self):
        """The download folder this run made, as its trace names it, as a Linux path."""
        prefix = "szDirectoryDownload : "
        found = next((text[len(prefix):] for text in self.traces if text.startswith(prefix)), None)
        assert found is not None, f"no download folder in the traces: {self.traces}"
        return self.wine.unix_path(found)

    def installer_arguments(self, folder=None):
        """What follows the quoted path of the installer SetupB.exe (in the download folder unless
        told) on the command line that it recorded, once it has; the path must be its own."""
        installer = (folder or self.download_folder()) / "SetupB.exe"
        command_line, _ = read_recorded(wait_for_file(installer.with_name("SetupB.exe.cmdline")))
        quoted = f'"{self.wine.windows_path(installer)}"'
        assert command_line.startswith(quoted), command_line
        return command_line[len(quoted):]


def read_recorded(path):
    """The command line and current folder that the sample program recorded at path."""
    return Path(path).read_bytes().decode("utf-16-le").partition("\n")[::2]


def wait_for_file(path, timeout=30):
    assert eventually(path.exists, timeout), f"{path} did not appear"
    return path


def download_log_from_now(wine):
    """A function that gives the lines of the download trace log C:\\WinHTTPLib.log written after
    this call."""
    log = wine.drive_c / "WinHTTPLib.log"
    start = log.stat().st_size if log.exists() else 0

    def lines():
        data = log.read_bytes()[start:] if log.exists() else b""
        return data.decode("latin-1").split("\r\n")[:-1]
    return lines
