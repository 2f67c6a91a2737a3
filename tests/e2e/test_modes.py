"""The four ways the setup can be run, and a second copy started beside a running one."""
import time

import pytest

from qerv_e2e import RECORDER_EXE
from qerv_e2e.setup_run import HIDDEN_RUN_FLASH_S, wait_for_file
from qerv_e2e.setup_texts import COMPLETED
from qerv_e2e.windows import CAPTION, dialogs, is_centred, visible_dialog


def test_no_switch_downloads_and_starts_the_installer(wine, publish, windows, start_setup):
    publish()
    run = start_setup()
    dialog = visible_dialog(windows.wait(visible_dialog, what="the setup dialog"))
    assert dialog["title"] == CAPTION
    # Centred in the work area at its final size, as the framework places an unowned dialog.
    assert is_centred(dialog), dialog
    assert run.wait() == 0

    # No argument and no language stored: the quoted path, two spaces and x.
    assert run.installer_arguments() == "  x"
    folder = run.download_folder()
    assert (folder / "SetupB.exe").read_bytes() == RECORDER_EXE.read_bytes()
    assert (folder / "Setup.dat").exists() and not (folder / "DeSetup.dat").exists()

    # One attempt, the first, was enough; the user was told before the window went.
    assert run.traces.count("Start DownloadThread") == 1
    assert "DownloadFile 1" not in run.traces
    assert windows.status_texts()[-1] == COMPLETED
    # The probe samples every 50 ms and the process may end sooner after the hide; nothing may
    # stay on screen once it has caught up.
    windows.wait(lambda state: not any(window["visible"] for window in dialogs(state)), timeout=5,
                 what="the dialog to be gone")
    assert not windows.any_box()

    # Everything it downloaded goes at the next restart, the folder last.
    windows_folder = wine.windows_path(folder)
    mine = [path for path in wine.pending_removals() if path.startswith(windows_folder)]
    assert mine == [f"{windows_folder}\\SetupB.exe", f"{windows_folder}\\Setup.dat",
                    f"{windows_folder}\\SetupB.exe", windows_folder]


@pytest.mark.parametrize("arguments, downloaded", [
    (["/DownloadOnly"], True),
    # With both switches nothing is downloaded either, and nothing is copied.
    (["/DownloadOnly", "/SetupOnly"], False),
], ids=["download-only", "both-switches"])
def test_download_only_starts_nothing(publish, windows, start_setup, arguments, downloaded):
    publish()
    run = start_setup(*arguments)
    assert run.wait() == 0

    assert ("Start DownloadThread" in run.traces) == downloaded
    folder = run.download_folder()
    assert sorted(p.name for p in folder.iterdir()) == (["Setup.dat", "SetupB.exe"]
                                                        if downloaded else [])
    beside = run.folder / "SetupB.exe"
    if downloaded:
        assert beside.read_bytes() == RECORDER_EXE.read_bytes()
    else:
        assert not beside.exists()
    assert not (folder / "SetupB.exe.cmdline").exists()
    assert not (run.folder / "SetupB.exe.cmdline").exists()
    # No window to speak of and no box.
    assert windows.shown_seconds() < HIDDEN_RUN_FLASH_S
    assert not windows.any_box()


def test_setup_only_starts_the_installer_beside_the_program(wine, windows, start_setup,
                                                            setup_folder):
    # Nothing is published: a download would fail.
    installer = setup_folder / "SetupB.exe"
    installer.write_bytes(RECORDER_EXE.read_bytes())
    run = start_setup("/SetupOnly")
    assert run.wait() == 0

    # The switch is the first argument and goes on to the installer like any other.
    assert run.installer_arguments(setup_folder) == " /SetupOnly x"
    assert "Start DownloadThread" not in run.traces
    assert not windows.any_box()
    # The download folder is still made, left empty, and goes at the next restart with the
    # installer that was started.
    folder = run.download_folder()
    assert list(folder.iterdir()) == []
    pending = wine.pending_removals()
    assert wine.windows_path(installer) in pending
    assert wine.windows_path(folder) in pending


def test_second_copy_ends_at_once_without_a_window(publish, windows, start_setup):
    publish()
    first = start_setup("/abc")
    windows.wait(visible_dialog, what="the first copy's dialog")

    second = start_setup("/abc")
    started = time.monotonic()
    assert second.wait(timeout=30) == 0
    assert time.monotonic() - started < 10
    assert second.traces == []
    assert first.wait() == 0

    # Only the first copy ever had a window.
    assert len({window["pid"] for state in windows.items() for window in state}) == 1
    assert wait_for_file(first.download_folder() / "SetupB.exe.cmdline")
