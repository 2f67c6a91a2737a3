"""Runs the real QervSetupOnline.exe under Wine and Xvfb beside loopback servers (wine, servers,
windows, setup_run), and reads what a user and an administrator would see. Used by the end-to-end
tests, the demo and the whole-run benchmark, with tests/e2e on the import path; Python's standard
library only. This module says where the programs under test are."""
import os
import subprocess
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[3]
# "32" where Wine's 32-bit loader runs (the shipped 32-bit program is tested), else "64" (the
# 64-bit build stands in for it); scripts/wine-arch.sh decides for every runner.
WINE_ARCH = subprocess.run([str(ROOT / "scripts" / "wine-arch.sh")], check=True,
                           capture_output=True, text=True).stdout.strip()
WIN_BUILD = Path(os.environ.get(
    "QERV_WIN_BUILD", ROOT / "build" / ("windows" if WINE_ARCH == "32" else "windows-x64")))
HOST_BUILD = Path(os.environ.get("QERV_HOST_BUILD", ROOT / "build" / "host-release"))
SETUP_EXE = WIN_BUILD / "src" / "app" / "QervSetupOnline.exe"
# The same setup, but its update server is https://qerv-update.test:8443/qerv/, a name that only
# the loopback proxies resolve: its direct attempts fail and a proxy attempt can work.
PROXY_NAME_SETUP_EXE = WIN_BUILD / "tests" / "e2e" / "proxy-name" / "QervSetupOnline.exe"
PROBE_EXE = WIN_BUILD / "tests" / "e2e" / "e2e_window_probe.exe"
# The sample installer: it records its command line and current folder beside itself.
RECORDER_EXE = WIN_BUILD / "fixtures" / "fixture_recorder.exe"
# The same program signed by another test publisher than the one the setup pins, and not signed.
RECORDER_OTHER_EXE = WIN_BUILD / "fixtures" / "fixture_recorder_other.exe"
RECORDER_UNSIGNED_EXE = WIN_BUILD / "fixtures" / "fixture_recorder_unsigned.exe"
# The pin of the test publisher that signed the sample installer, which the test builds pin.
PUBLISHER_PIN_FILE = WIN_BUILD / "signing" / "publisher.pin"
# The setup built without pinned signers: it starts installers by anyone.
UNPINNED_SETUP_EXE = WIN_BUILD / "tests" / "e2e" / "unpinned" / "QervSetupOnline.exe"
VERSIONED_EXE = WIN_BUILD / "fixtures" / "fixture_versioned.exe"
# A program that keeps trying to swap the setup's work folder and installer for the foreign one,
# an unsigned program that leaves "<own path>.foreign" when it runs.
SWAPPER_EXE = WIN_BUILD / "fixtures" / "fixture_swapper.exe"
FOREIGN_EXE = WIN_BUILD / "fixtures" / "fixture_foreign.exe"
# A DLL that exports nothing, under the names of system DLLs, to plant beside the setup.
PLANTED_DLLS = WIN_BUILD / "fixtures" / "planted"
QERV_PACK = HOST_BUILD / "tools" / "qerv-pack" / "qerv-pack"
# Screenshots that the tests keep for people to look at.
ARTIFACTS = ROOT / "artifacts" / "e2e"
# Every display, server and wineserver started here ends by itself after this long, should the
# session that started it be killed.
SESSION_LIFETIME_S = 1800


def eventually(condition, timeout=10):
    """Whether condition() comes true within timeout seconds."""
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() >= deadline:
            return False
        time.sleep(0.1)
    return True
