"""End-to-end fixtures: the real QervSetupOnline.exe under Wine and Xvfb, beside loopback servers.

One Xvfb display, one set of servers and one persistent wineserver serve the whole session (see
harness.py for how windows, traces and files are read). Each test gets a fresh program folder
inside the Wine prefix with the setup copied into it, and ends its own setup processes; registry
values that a test sets, or that the setup writes for it, are removed after it.
"""
import os
import re
import shutil
from pathlib import Path

import pytest

from harness import (HKLM_QERV, IE_CONNECTIONS, PACKAGE_NAME, PROXY_NAME_SETUP_EXE, QERV_PACK,
                     RECORDER_EXE, RUN_ONCE, SETUP_EXE, VERSIONED_EXE, WIN_BUILD,
                     WINHTTP_CONNECTIONS, SetupRun, WindowWatch, log_lines_since, log_size,
                     loopback_servers, pack, wine_session, xvfb_display)

PREFIX = Path(os.environ.get("QERV_E2E_WINEPREFIX", WIN_BUILD / "wineprefix-e2e"))


@pytest.fixture(scope="session")
def display():
    with xvfb_display() as name:
        yield name


@pytest.fixture(scope="session")
def wine(display):
    for program in (PROXY_NAME_SETUP_EXE, VERSIONED_EXE):
        assert program.exists(), f"build the windows preset first: {program} is missing"
    assert QERV_PACK.exists(), f"build the host-release preset first: {QERV_PACK} is missing"
    with wine_session(display, PREFIX) as session:
        # Whatever an interrupted earlier session may have left behind.
        session.reg_delete(HKLM_QERV)
        session.reg_delete(RUN_ONCE, "QervSetup")
        for view in ("/reg:32", "/reg:64"):
            session.reg_delete(WINHTTP_CONNECTIONS, "WinHttpSettings", view=view)
        session.reg_delete(IE_CONNECTIONS, "DefaultConnectionSettings", view=None)
        yield session


@pytest.fixture(scope="session")
def servers():
    """Loopback servers for the whole session; their addresses come back as a dict."""
    with loopback_servers() as values:
        yield values


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


@pytest.fixture
def registry(wine):
    """Sets registry values for one test and removes them, and any value that the test names as
    written by the setup, afterwards. The 32-bit view unless told otherwise."""

    class Registry:
        def __init__(self):
            self.written = []

        def set(self, key, name, kind, data, view="/reg:32"):
            self.written.append((key, name, view))
            wine.reg_add(key, name, kind, data, view=view)

        def forget_afterwards(self, key, name, view="/reg:32"):
            self.written.append((key, name, view))

    values = Registry()
    yield values
    for key, name, view in reversed(values.written):
        wine.reg_delete(key, name, view=view)


@pytest.fixture
def setup_folder(wine, request):
    """A fresh program folder in the prefix, holding a copy of the setup."""
    name = re.sub(r"[^A-Za-z0-9]+", "-", request.node.name)[:60].strip("-")
    folder = wine.drive_c / "qerv-e2e" / name
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    shutil.copy2(SETUP_EXE, folder / SETUP_EXE.name)
    yield folder
    shutil.rmtree(folder, ignore_errors=True)


@pytest.fixture
def start_setup(wine, setup_folder):
    """Starts the setup (or, with program, another build of it) in the test's program folder;
    every run is ended after the test."""
    runs = []

    def start(*arguments, program=None):
        if program is not None:
            shutil.copy2(program, setup_folder / SETUP_EXE.name)
        run = SetupRun(wine, setup_folder, arguments)
        runs.append(run)
        return run

    yield start
    for run in runs:
        run.kill()


@pytest.fixture
def watch(wine):
    """Starts watching the setup's windows; the watch ends after the test."""
    watches = []

    def start():
        watcher = WindowWatch(wine)
        watches.append(watcher)
        return watcher

    yield start
    for watcher in watches:
        watcher.stop()


@pytest.fixture
def trace_log(wine):
    """The download trace log's lines written during the test."""
    start = log_size(wine)
    return lambda: log_lines_since(wine, start)
