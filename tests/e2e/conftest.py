"""One Xvfb display, one set of loopback servers and one wineserver serve the whole session. Each
test gets a fresh program folder in the Wine prefix with a copy of the setup, and ends its own
setup processes; registry values that it sets, or that the setup writes for it, go after it."""
import os
import re
import shutil
from pathlib import Path
from types import SimpleNamespace

import pytest

from qerv_e2e import (PROXY_NAME_SETUP_EXE, QERV_PACK, RECORDER_EXE, SETUP_EXE, VERSIONED_EXE,
                      WIN_BUILD)
from qerv_e2e.servers import PACKAGE_NAME, loopback_servers, pack
from qerv_e2e.setup_run import SetupRun, download_log_from_now
from qerv_e2e.windows import WindowWatch, xvfb_display
from qerv_e2e.wine import HKLM_QERV, IE_CONNECTIONS, RUN_ONCE, WINHTTP_CONNECTIONS, wine_session


def pytest_collection_modifyitems(items):
    """Tests that serve the setup's port 8443 themselves run first: once the session's loopback
    servers have started, they hold it until the session ends."""
    items.sort(key=lambda item: item.get_closest_marker("own_update_server") is None)


@pytest.fixture(scope="session")
def display():
    with xvfb_display() as name:
        yield name


@pytest.fixture(scope="session")
def wine(display):
    for program in (PROXY_NAME_SETUP_EXE, VERSIONED_EXE):
        assert program.exists(), f"build the windows preset first: {program} is missing"
    assert QERV_PACK.exists(), f"build the host-release preset first: {QERV_PACK} is missing"
    prefix = Path(os.environ.get("QERV_E2E_WINEPREFIX", WIN_BUILD / "wineprefix-e2e"))
    with wine_session(display, prefix) as session:
        # Whatever an interrupted earlier session may have left behind.
        session.reg_delete(HKLM_QERV)
        session.reg_delete(RUN_ONCE, "QervSetup")
        for view in ("/reg:32", "/reg:64"):
            session.reg_delete(WINHTTP_CONNECTIONS, "WinHttpSettings", view=view)
        session.reg_delete(IE_CONNECTIONS, "DefaultConnectionSettings", view=None)
        yield session


@pytest.fixture(scope="session")
def servers():
    with loopback_servers() as values:
        yield values


@pytest.fixture
def publish(servers):
    """Packs an installer (the sample one by default) into the package on the update server;
    removes it after the test."""
    package = servers["updates"] / PACKAGE_NAME
    yield lambda installer=RECORDER_EXE: pack(installer, package)
    package.unlink(missing_ok=True)


@pytest.fixture
def registry(wine):
    """set() sets a value for one test, forget_afterwards() names one that the setup writes; both
    are removed after the test. The 32-bit view unless told otherwise."""
    written = []

    def forget_afterwards(key, name, view="/reg:32"):
        written.append((key, name, view))

    def set_value(key, name, kind, data, view="/reg:32"):
        forget_afterwards(key, name, view)
        wine.reg_add(key, name, kind, data, view=view)

    yield SimpleNamespace(set=set_value, forget_afterwards=forget_afterwards)
    for key, name, view in reversed(written):
        wine.reg_delete(key, name, view=view)


@pytest.fixture
def setup_folder(wine, request):
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

    def start(*arguments, program=None, **options):
        if program is not None:
            shutil.copy2(program, setup_folder / SETUP_EXE.name)
        runs.append(SetupRun(wine, setup_folder, arguments, **options))
        return runs[-1]

    yield start
    for run in runs:
        run.kill()


@pytest.fixture
def windows(wine):
    watch = WindowWatch(wine)
    yield watch
    watch.stop()


@pytest.fixture
def trace_log(wine):
    return download_log_from_now(wine)
