"""One run of the real setup against the chaos server, and the invariants it must hold whatever
the server did: it ends by itself within the bound of its waits and limits, leaving no process;
it starts the installer, with the command line of the launch rules, exactly when the package
arrived whole, and otherwise tells the user (message 1) and starts nothing; it leaves no work
folder, part or decoded file and changes nothing else but what a run writes; every line of the
download trace log is whole; the dialog's progress never goes back within one try, and its
status line shows only the run's texts. Used by the soak (bench/chaos_soak.py) and its short run
among the end-to-end tests."""
import contextlib
import os
import shutil
import socket
import time
from dataclasses import dataclass, field
from pathlib import Path

from qerv_e2e import SETUP_EXE
from qerv_e2e.chaos_server import PackageVersions, chaos_server
from qerv_e2e.setup_run import SetupRun, read_recorded
from qerv_e2e.setup_texts import BOX_CAPTION, FAILED, allowed_status, whole_log_line
from qerv_e2e.windows import WindowWatch, answer, boxes, dialogs

# The setup's own waits and limits (the download launcher, the workflow, the libcurl path).
SAMPLE_S = 1.0  # the launcher samples its attempt once a second
STALL_SAMPLES = 5  # a WinHTTP transfer without a rise for this many samples is cancelled
AFTER_ATTEMPT_S = 2.0
SWITCH_NOTICES_S = 2 * 1.0
COMPLETED_NOTICE_S = 1.5
CRAWL_LIMIT_S = 60.0  # libcurl ends a transfer below 1 KiB/s after this long
ATTEMPTS = 6
# A package's transfer over the loopback, the program's start under Wine, decoding and the
# signer check, the failure box answered: generous, as they do not depend on the server.
TRANSFER_S = 3.0
OUTSIDE_WAITS_S = 20.0
# The first argument handed on; with it the installed-product checks do not run.
ARGUMENT = "/chaos"
# The files a started run leaves in its folder: the package, the installer and what the sample
# installer records beside itself; everything goes at the next restart.
STARTED_FILES = {"Setup.dat", "SetupB.exe", "SetupB.exe.cmdline"}


def run_bound(limits):
    """Seconds that a run may take at worst: six attempts, each a libcurl phase (its two passes
    at their slowest answer, a stall ending at the crawl limit at the latest) and a WinHTTP phase
    (the slowest answer's headers and trickle, then the samples that find it stalled), the wait
    after each attempt, the notices, and what lies outside the download."""
    stall = max(limits["stall"][1], limits["long_stall"] or 0)
    slowest = (limits["slow_tunnel"][1] + limits["slow_headers"][1]
               + max(min(stall, CRAWL_LIMIT_S + SAMPLE_S), limits["trickle"]) + TRANSFER_S)
    curl = 2 * slowest
    winhttp = (limits["slow_tunnel"][1] + limits["slow_headers"][1] + limits["trickle"]
               + (STALL_SAMPLES + 1) * SAMPLE_S + TRANSFER_S)
    attempt = curl + winhttp + AFTER_ATTEMPT_S + SAMPLE_S
    return ATTEMPTS * attempt + SWITCH_NOTICES_S + COMPLETED_NOTICE_S + OUTSIDE_WAITS_S


@dataclass
class SoakResult:
    seed: int
    seconds: float = 0.0
    bound: float = 0.0
    started: bool = False
    weather: float = 0.0
    draws: list = field(default_factory=list)
    violations: list = field(default_factory=list)


def log_from_now(wine):
    """A function that gives the bytes that C:\\WinHTTPLib.log gains after this call."""
    log = wine.drive_c / "WinHTTPLib.log"
    start = log.stat().st_size if log.exists() else 0
    return lambda: log.read_bytes()[start:] if log.exists() else b""


def temp_folders(wine):
    drive = wine.drive_c
    return sorted({*drive.glob("users/*/AppData/Local/Temp"), *drive.glob("users/*/Temp"),
                   drive / "windows" / "temp"})


def snapshot(wine, folder):
    """The names in the places a run could change beyond its work folder."""
    listing = {path: sorted(p.name for p in path.iterdir()) for path in temp_folders(wine)
               if path.is_dir()}
    listing[wine.drive_c] = sorted(p.name for p in wine.drive_c.iterdir())
    listing[folder] = sorted(p.name for p in folder.iterdir())
    return listing


def processes_naming(token):
    """Linux processes whose command line holds token (Wine's show the Windows path)."""
    found = []
    for entry in Path("/proc").iterdir():
        if entry.name.isdigit() and entry.name != str(os.getpid()):
            try:
                command = (entry / "cmdline").read_bytes().replace(b"\0", b" ").decode("utf-8",
                                                                                       "replace")
            except OSError:
                continue
            if token.lower() in command.lower():
                found.append(f"{entry.name}: {command.strip()}")
    return found


class SoakRun:
    """The setup in its own program folder under the seed's chaos server, watched to its end."""

    def __init__(self, session, seed, profile):
        self.wine, self.display, self.versions = session.wine, session.display, session.versions
        self.proxy_port = session.proxy_port
        self.seed, self.profile = seed, profile
        self.folder = session.work / f"seed-{seed}"
        self.result = SoakResult(seed)

    def fail(self, text):
        self.result.violations.append(text)

    def go(self):
        shutil.rmtree(self.folder, ignore_errors=True)
        self.folder.mkdir(parents=True)
        shutil.copy2(SETUP_EXE, self.folder / SETUP_EXE.name)
        with chaos_server(self.seed, self.versions, self.profile, self.proxy_port) as server:
            limits = server.log().profile["limits"]
            before = snapshot(self.wine, self.folder)
            log_bytes = log_from_now(self.wine)
            watch = WindowWatch(self.wine)
            try:
                self.result.bound = run_bound(limits)
                run = SetupRun(self.wine, self.folder, [ARGUMENT])
                boxes_seen = self.watch_to_end(run, watch, self.result.bound)
            finally:
                watch.stop()
            chaos = server.log()
        self.result.weather = chaos.profile["good"]
        self.result.draws = chaos.draws
        self.check(run, watch, chaos, boxes_seen, before, log_bytes())
        shutil.rmtree(self.folder, ignore_errors=True)
        return self.result

    def watch_to_end(self, run, watch, bound):
        """Waits for the end, answering message 1 as a user would; the texts of the boxes."""
        seen = []
        deadline = run.started + bound
        while run.process.poll() is None and time.monotonic() < deadline:
            shown = boxes(watch.latest() or [])
            if shown and shown[0]["text"] not in seen[-1:]:
                seen.append(shown[0]["text"])
                if shown[0]["title"] == BOX_CAPTION:
                    answer(self.display, shown[0], "OK")
            time.sleep(0.2)
        if run.process.poll() is None:
            self.fail(f"the run did not end within its bound of {bound:.0f} s")
            run.kill()
        run.wait(timeout=30)
        self.result.seconds = time.monotonic() - run.started
        return seen

    def check(self, run, watch, chaos, boxes_seen, before, log_bytes):
        traces = run.traces
        folder = self.download_folder(traces)
        started = any(t.startswith("szProcessPath: ") for t in traces)
        self.result.started = started
        record = folder / "SetupB.exe.cmdline" if folder else None
        if started and record is not None:
            # The sample installer writes its record once it runs.
            deadline = time.monotonic() + 15
            while not record.exists() and time.monotonic() < deadline:
                time.sleep(0.1)
        arrived = chaos.package_arrived()
        if started != arrived:
            self.fail(f"installer started: {started}, but the package arrived whole: {arrived}")
        if started:
            self.check_started(folder, record, boxes_seen)
        else:
            self.check_not_started(folder, boxes_seen, watch)
        self.check_nothing_else_changed(before, folder if started else None)
        self.check_no_process_left(folder)
        if log_bytes and not log_bytes.endswith(b"\r\n"):
            self.fail(f"the download trace log ends inside a line: {log_bytes[-80:]!r}")
        for line in log_bytes.decode("latin-1").split("\r\n")[:-1]:
            if not whole_log_line(line):
                self.fail(f"a line of the download trace log is not whole: {line!r}")
        self.check_dialog(watch, run, chaos)

    def download_folder(self, traces):
        prefix = "szDirectoryDownload : "
        found = next((t[len(prefix):] for t in traces if t.startswith(prefix)), None)
        if found is None:
            self.fail("no download folder was traced")
            return None
        return self.wine.unix_path(found)

    def check_started(self, folder, record, boxes_seen):
        if boxes_seen:
            self.fail(f"boxes shown although the installer started: {boxes_seen}")
        if folder is None or not folder.is_dir():
            self.fail("the started installer's folder is gone")
            return
        names = {p.name for p in folder.iterdir()}
        if names != STARTED_FILES:
            self.fail(f"the folder holds {sorted(names)}, not {sorted(STARTED_FILES)}")
        version = self.versions.version_of((folder / "Setup.dat").read_bytes())
        if version is None:
            self.fail("Setup.dat is neither version of the package")
        elif (folder / "SetupB.exe").read_bytes() != self.versions.installers[version].read_bytes():
            self.fail(f"SetupB.exe is not the installer of version {version}")
        if record is None or not record.exists():
            self.fail("the installer never recorded its start")
        else:
            command_line, _ = read_recorded(record)
            expected = f'"{self.wine.windows_path(folder / "SetupB.exe")}" {ARGUMENT} x'
            if command_line != expected:
                self.fail(f"installer command line {command_line!r}, not {expected!r}")
        # Everything left goes at the next restart, the folder last.
        windows_folder = self.wine.windows_path(folder)
        mine = [p for p in self.wine.pending_removals() if p.startswith(windows_folder)]
        if not mine or mine[-1] != windows_folder:
            self.fail(f"the folder is not scheduled for removal last: {mine}")
        for name in names - {"SetupB.exe.cmdline"}:
            if f"{windows_folder}\\{name}" not in mine:
                self.fail(f"{name} is left without being scheduled for removal")

    def check_not_started(self, folder, boxes_seen, watch):
        if boxes_seen != [FAILED]:
            self.fail(f"the user was shown {boxes_seen}, not message 1 once")
        texts = watch.status_texts(hidden_too=True)
        if not texts or texts[-1] != FAILED:
            self.fail(f"the status line ended on {texts[-1:]}, not message 1")
        if folder is not None and folder.exists():
            self.fail(f"the download folder is left with {sorted(p.name for p in folder.iterdir())}")

    def check_nothing_else_changed(self, before, download_folder):
        after = snapshot(self.wine, self.folder)
        for place, names in after.items():
            new = set(names) - set(before.get(place, []))
            gone = set(before.get(place, [])) - set(names)
            if place == self.wine.drive_c:
                new -= {"WinHTTPLib.log"}
            if download_folder is not None and download_folder.parent == place:
                new -= {download_folder.name}
            if new or gone:
                self.fail(f"{place} changed: new {sorted(new)}, gone {sorted(gone)}")

    def check_no_process_left(self, folder):
        tokens = [self.wine.windows_path(self.folder)]
        if folder is not None:
            tokens.append(self.wine.windows_path(folder))
        deadline = time.monotonic() + 10
        while True:
            left = [p for token in tokens for p in processes_naming(token)]
            if not left or time.monotonic() >= deadline:
                break
            time.sleep(0.2)
        for process in left:
            self.fail(f"a process of the run is left: {process}")

    def check_dialog(self, watch, run, chaos):
        for text in watch.status_texts(hidden_too=True):
            if not allowed_status(text):
                self.fail(f"the status line showed {text!r}")
        # A try starts with each attempt and with the WinHTTP phase after a failed libcurl one;
        # the downloads end with the trace of their outcome. Samples and traces arrive through
        # different pipes, so a change next to a boundary may belong to either side.
        marks = ("Start DownloadThread", "Download curl failed", "pqrlo - 1: ")
        bounds = [stamp for stamp, text in run.trace_feed.timed() if text.startswith(marks)]
        drops = []
        # The position shown and when it was first seen: it was set before that, and the one
        # after it was set after the last sample that still showed it.
        last = None
        for stamp, windows in watch.timed():
            shown = [w["progress"] for w in dialogs(windows) if w.get("progress") is not None]
            if not shown or (last is not None and shown[0] == last[1]):
                continue
            if last is not None and shown[0] < last[1]:
                if not any(last[0] - 0.3 <= b <= stamp + 0.3 for b in bounds):
                    drops.append((last[1], shown[0]))
            last = (stamp, shown[0])
        # The one way back within a try: the server answered a request for the rest with the
        # whole package, which starts again from byte 0.
        if len(drops) > chaos.restarts():
            self.fail(f"the progress went back within a try: {drops} "
                      f"({chaos.restarts()} restarts from byte 0)")
        # The bar is full only once the package is in: no attempt starts after it shows 100 %.
        full = next((stamp for stamp, windows in watch.timed()
                     if any(w.get("progress") == 100 for w in dialogs(windows))), None)
        attempts = [stamp for stamp, text in run.trace_feed.timed()
                    if text == "Start DownloadThread"]
        if full is not None and any(start > full + 0.3 for start in attempts):
            self.fail("the bar showed 100 % before an attempt that was still to come")


@dataclass
class SoakSession:
    """What the runs of a soak share: the prefix and display, the package's two versions, and
    the port of the proxy that the user's and WinHTTP's proxy settings name."""
    wine: object
    display: str
    work: Path
    versions: PackageVersions
    proxy_port: int


@contextlib.contextmanager
def soak_session(wine, display):
    """The proxy settings name the chaos server's plain port for as long as the block runs; the
    runs work in C:\\qerv-chaos."""
    work = wine.drive_c / "qerv-chaos"
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)
    probe = socket.socket()
    probe.bind(("127.0.0.1", 0))
    port = probe.getsockname()[1]
    probe.close()
    wine.set_proxies(f"127.0.0.1:{port}")
    try:
        yield SoakSession(wine, display, work, PackageVersions.make(work / "packages"), port)
    finally:
        wine.set_proxies(None)
        shutil.rmtree(work, ignore_errors=True)
