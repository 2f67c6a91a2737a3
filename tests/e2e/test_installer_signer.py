"""Only an installer signed by the pinned test publisher is started: one signed by another key,
one not signed and one changed after signing end the run like a package that does not decode,
also in set-up-only mode; a setup built without pins starts any installer."""
import shutil

import pytest

from qerv_e2e import RECORDER_EXE, RECORDER_OTHER_EXE, RECORDER_UNSIGNED_EXE, UNPINNED_SETUP_EXE
from qerv_e2e.setup_texts import FAILED
from qerv_e2e.windows import APP_CAPTION, answer, visible_dialog


def installer(kind, folder):
    """The sample installer as kind says, as a file in folder."""
    if kind == "changed":
        changed = folder / "changed.exe"
        data = bytearray(RECORDER_EXE.read_bytes())
        data[0x600] ^= 0xFF  # in the code, which the signature's digest covers
        changed.write_bytes(data)
        return changed
    return {"pinned": RECORDER_EXE, "other": RECORDER_OTHER_EXE,
            "unsigned": RECORDER_UNSIGNED_EXE}[kind]


def traced(run, prefix):
    return any(text.startswith(prefix) for text in run.traces)


@pytest.mark.parametrize("kind, mode, trace", [
    ("other", "download", "Installer signature refused: signer not pinned: CN=Qerv Other Publisher"),
    ("unsigned", "download", "Installer signature refused: WinVerifyTrust 0x800B0100: "),
    ("changed", "download", "Installer signature refused: WinVerifyTrust 0x80096010: "),
    ("unsigned", "set-up-only", "Installer signature refused: WinVerifyTrust 0x800B0100: "),
], ids=["another-key", "unsigned", "changed-after-signing", "set-up-only-unsigned"])
def test_an_installer_by_anyone_else_is_refused(display, windows, start_setup, publish, setup_folder,
                                                tmp_path, kind, mode, trace):
    if mode == "download":
        publish(installer(kind, tmp_path))
        run = start_setup()
    else:
        beside = setup_folder / "SetupB.exe"
        shutil.copy2(installer(kind, tmp_path), beside)
        run = start_setup("/SetupOnly")
    box, shown = windows.wait_box(APP_CAPTION, timeout=90)
    assert box["text"] == FAILED
    assert visible_dialog(shown)["status"] == FAILED
    assert traced(run, trace), run.traces
    # Nothing was started, and the run's folder is gone before the user is told.
    assert not traced(run, "szProcessPath")
    assert not run.download_folder().exists()
    if mode == "set-up-only":
        # The file next to the program is not the setup's to remove.
        assert beside.exists() and not beside.with_name("SetupB.exe.cmdline").exists()
    answer(display, box, "OK")
    assert run.wait(timeout=15) == 0


@pytest.mark.parametrize("kind, program, trace", [
    ("pinned", None, "Installer signer pinned: CN=Qerv Test Publisher, O=Qerv Test, C=XX"),
    ("unsigned", UNPINNED_SETUP_EXE, "Installer signer not checked: no signer pinned"),
], ids=["signed-by-the-pinned-key", "no-pins"])
def test_an_accepted_installer_is_started(windows, start_setup, publish, tmp_path, kind, program,
                                          trace):
    publish(installer(kind, tmp_path))
    run = start_setup(program=program)
    assert run.wait() == 0
    assert trace in run.traces
    assert run.installer_arguments() == "  x"
    assert not windows.any_box()
