"""The interface language that an installed suite leaves in "fGiaodien": the dialog's texts and the
word that tells the installer which language to speak. Screenshots of the dialog in Vietnamese and
in English are kept under artifacts/e2e/."""
import subprocess

import pytest

from harness import (ARTIFACTS, CAPTION, HKLM_QERV, read_recorded, screenshot, visible_dialog,
                     wait_for_file)

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


def distinct_colours(path):
    result = subprocess.run(["convert", str(path), "-format", "%k", "info:"], check=True,
                            capture_output=True, text=True)
    return int(result.stdout)


@pytest.mark.parametrize("stored, word, texts, picture", [
    pytest.param(None, "x", VIETNAMESE, "dialog-vietnamese.png", id="absent"),
    pytest.param(1, "/English", ENGLISH, "dialog-english.png", id="english"),
    pytest.param(2, "/Vietnamese", VIETNAMESE, None, id="vietnamese"),
])
def test_language_of_dialog_and_installer(wine, display, registry, publish, watch, start_setup,
                                          stored, word, texts, picture):
    if stored is not None:
        registry.set(HKLM_QERV, "fGiaodien", "REG_DWORD", stored)
    publish()
    windows = watch()
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
        assert distinct_colours(shot) > 50

    assert run.wait() == 0
    assert windows.status_texts()[-1] == texts["completed"]
    installer = run.download_folder() / "SetupB.exe"
    command_line, _ = read_recorded(wait_for_file(installer.with_name("SetupB.exe.cmdline")))
    assert command_line == f'"{wine.windows_path(installer)}" /abc {word}'
