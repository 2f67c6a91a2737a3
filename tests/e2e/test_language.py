"""The interface language that an installed suite leaves in "fGiaodien": the dialog's texts and the
word that tells the installer which language to speak. Screenshots of the dialog in Vietnamese and
in English are kept under artifacts/e2e/."""
import subprocess

import pytest

from qerv_e2e import ARTIFACTS
from qerv_e2e.windows import CAPTION, screenshot, visible_dialog
from qerv_e2e.wine import HKLM_QERV

VIETNAMESE = {
    "cancel": "Hủy bỏ",
    "first_stage": "Đang khởi tạo tài nguyên.",
    "completed": "Đã hoàn thành tải bộ cài đặt về. Đang chuẩn bị cài đặt",
}
ENGLISH = {
    "cancel": "Cancel",
    "first_stage": "Initializing resource.",
    "completed": "Download completed. Preparing for installation",
}


@pytest.mark.parametrize("stored, word, texts, picture", [
    pytest.param(None, "x", VIETNAMESE, "dialog-vietnamese.png", id="absent"),
    pytest.param(1, "/English", ENGLISH, "dialog-english.png", id="english"),
    pytest.param(2, "/Vietnamese", VIETNAMESE, None, id="vietnamese"),
])
def test_language_of_dialog_and_installer(display, registry, publish, windows, start_setup,
                                          stored, word, texts, picture):
    if stored is not None:
        registry.set(HKLM_QERV, "fGiaodien", "REG_DWORD", stored)
    publish()
    run = start_setup("/abc")

    # The first status line: the first stage of the download, with one dot.
    shown = windows.wait(lambda w: (visible_dialog(w) or {}).get("status") == texts["first_stage"],
                         what="the first status line")
    dialog = visible_dialog(shown)
    assert dialog["title"] == CAPTION
    assert dialog["button"] == texts["cancel"]
    if picture:
        shot = screenshot(display, ARTIFACTS / picture, dialog["rect"])
        # Still on screen when it was taken, so the picture shows the dialog, not the desktop.
        assert visible_dialog(windows.latest())
        colours = subprocess.run(["convert", str(shot), "-format", "%k", "info:"], check=True,
                                 capture_output=True, text=True).stdout
        assert int(colours) > 50

    assert run.wait() == 0
    assert windows.status_texts()[-1] == texts["completed"]
    assert run.installer_arguments() == f" /abc {word}"
