"""A suite already on the machine: the offer to uninstall it, the 2009 edition, and a first argument
that skips both checks."""
import shutil
import time

import pytest

from qerv_e2e import RECORDER_EXE, VERSIONED_EXE
from qerv_e2e.setup_run import read_recorded, wait_for_file
from qerv_e2e.windows import APP_CAPTION, answer, box_icon, dialogs
from qerv_e2e.wine import HKLM_QERV, RUN_ONCE

PRODUCT = "Qerv Vantorel Test Edition"
SUPPORT_FILES = ("QervSkinManager.dll", "QervSkin.dll", "SkinResource.dll", "QervLanguageVn.dll",
                 "QervLanguageEn.dll")
# Messages 22 (with the product name) and 25 in Vietnamese.
INSTALLED = ("Máy tính của bạn đã được cài sẵn {}.\nĐể có thể cài đặt phiên bản mới, bạn cần phải "
             "gỡ bỏ phiên bản hiện thời.")
OLD_EDITION = ("Máy tính của bạn đã được cài sẵn Qerv. Bạn cần gỡ bỏ phiên bản Qerv đang có trên "
               "máy tính trước khi cài đặt phiên bản Qerv Vantorel Internet Security!")


@pytest.fixture
def install_folder(wine, registry, request):
    """An install folder named by "szQervDir"; the test puts into it what it needs."""
    folder = wine.drive_c / "Program Files (x86)" / "Qerv e2e" / request.node.name[:40]
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    registry.set(HKLM_QERV, "szQervDir", "REG_SZ", wine.windows_path(folder))
    yield folder
    shutil.rmtree(folder, ignore_errors=True)


def install_suite(folder, registry):
    """A complete installation: a main executable with a version resource, the support files,
    the product name, and a sample program as its uninstaller."""
    shutil.copy2(VERSIONED_EXE, folder / "Qerv.exe")
    for name in SUPPORT_FILES:
        (folder / name).write_bytes(b"")
    shutil.copy2(RECORDER_EXE, folder / "QervUnst.exe")
    registry.set(HKLM_QERV, "ProductName", "REG_SZ", PRODUCT)


@pytest.mark.parametrize("choice", ["OK", "Cancel"])
def test_installed_suite_offers_its_uninstaller(wine, display, registry, install_folder, windows,
                                                start_setup, choice):
    install_suite(install_folder, registry)
    registry.forget_afterwards(RUN_ONCE, "QervSetup")
    run = start_setup()

    box, _ = windows.wait_box()
    assert box["title"] == APP_CAPTION
    assert box["text"] == INSTALLED.format(PRODUCT)
    assert [b["text"] for b in box["buttons"]] == ["OK", "Cancel"]
    # Asked for with no icon: the framework gives an OK/Cancel box its exclamation mark.
    assert box_icon(display, box) == "exclamation"
    answer(display, box, choice)
    assert run.wait(timeout=30) == 0

    # The check runs before the setup's work begins: nothing was downloaded.
    assert run.traces == []
    assert not any(w["visible"] for state in windows.items() for w in dialogs(state))
    run_once = wine.reg_query(RUN_ONCE, "QervSetup")
    record = install_folder / "QervUnst.exe.cmdline"
    if choice == "OK":
        assert run_once == f'"{wine.windows_path(run.folder / "QervSetupOnline.exe")}"'
        command_line, current = read_recorded(wait_for_file(record))
        assert command_line.endswith(" /Silent")
        assert wine.windows_path(install_folder / "QervUnst.exe") in command_line
        assert current.rstrip("\\").lower() == wine.windows_path(install_folder).lower()
    else:
        assert run_once is None
        time.sleep(1)
        assert not record.exists()


def test_2009_edition_asks_to_be_removed_first(display, install_folder, windows, start_setup):
    (install_folder / "Qerv2009.exe").write_bytes(VERSIONED_EXE.read_bytes())
    run = start_setup()

    box, _ = windows.wait_box()
    assert box["title"] == APP_CAPTION
    assert box["text"] == OLD_EDITION
    answer(display, box, "OK")
    assert run.wait(timeout=30) == 0
    assert run.traces == []


def test_first_argument_skips_both_checks(registry, install_folder, publish, windows, start_setup):
    install_suite(install_folder, registry)
    (install_folder / "Qerv2009.exe").write_bytes(VERSIONED_EXE.read_bytes())
    publish()
    run = start_setup("/abc")
    assert run.wait() == 0

    assert not windows.any_box()
    assert run.installer_arguments() == " /abc x"
