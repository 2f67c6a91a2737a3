"""Stopping the setup (the cancel button, the window's close box, Esc) and the dialog's stay in the
notification area."""
import time

import pytest

from qerv_e2e import ARTIFACTS, eventually
from qerv_e2e.setup_run import wait_for_file
from qerv_e2e.windows import (APP_CAPTION, CAPTION, answer, box_icon, center, click, dialogs,
                              raise_x_windows, screen_pixels, screenshot, visible_dialog,
                              x_geometry, x_windows, xdotool)

STOP_QUESTION = "Bạn có muốn dừng quá trình cài đặt Qerv không?"
TRAY_WINDOW = "Wine System Tray"
# The worker's last step before it starts the installer.
STOP_POINT = "pqrlo -5"


def close_box(rect):
    """The close box at the right end of the caption that Wine draws."""
    left, top, right, bottom = rect
    return right - 12, top + 11


@pytest.mark.parametrize("trigger, choice", [
    ("button", "Yes"), ("button", "No"), ("close box", "Yes"), ("close box", "No")])
def test_stop_question_at_the_stop_point(display, publish, windows, start_setup, trigger, choice):
    publish()
    run = start_setup("/abc")
    dialog = visible_dialog(windows.wait(visible_dialog, what="the setup dialog"))
    click(display, *(center(dialog["button_rect"]) if trigger == "button"
                     else close_box(dialog["rect"])))

    box, _ = windows.wait_box(CAPTION)
    assert box["text"] == STOP_QUESTION
    assert box_icon(display, box) == "question"
    assert [b["text"].replace("&", "") for b in box["buttons"]] == ["Yes", "No"]
    # The download finishes meanwhile, and the worker waits for the answer at its stop point.
    run.wait_trace(f"^{STOP_POINT}$", timeout=30)
    time.sleep(1.5)
    assert run.traces[-1] == STOP_POINT
    folder = run.download_folder()
    assert not (folder / "SetupB.exe.cmdline").exists()

    answer(display, box, choice)
    assert run.wait(timeout=30) == 0
    if choice == "Yes":
        # Nothing is started and nothing is removed.
        assert run.traces[-1] == STOP_POINT
        assert sorted(p.name for p in folder.iterdir()) == ["Setup.dat", "SetupB.exe"]
    else:
        assert run.traces[-1].startswith("szProcessPath: ")
        wait_for_file(folder / "SetupB.exe.cmdline")


def test_escape_ends_the_dialog_without_asking(display, publish, windows, start_setup):
    publish()
    run = start_setup("/abc")
    dialog = visible_dialog(windows.wait(visible_dialog, what="the setup dialog"))
    # A click on the dialog's blank middle gives it the keyboard.
    left, top, right, _ = dialog["rect"]
    click(display, (left + right) // 2, top + 160)
    xdotool(display, "key", "Escape")
    assert run.wait(timeout=30) == 0

    assert not windows.any_box()
    assert not any(text.startswith("szProcessPath") for text in run.traces)


@pytest.mark.parametrize("come_back", [True, False], ids=["comes-back", "ends-from-the-tray"])
def test_dialog_goes_to_the_tray(display, windows, start_setup, come_back):
    # Nothing is published: the setup fails and waits with its box open, long enough for the
    # dialog's forty seconds to pass.
    run = start_setup()
    windows.wait(visible_dialog, what="the setup dialog")
    shown_at = time.monotonic()

    hidden = windows.wait(lambda w: any(not d["visible"] for d in dialogs(w)), timeout=60,
                          what="the dialog to hide")
    assert 38 <= time.monotonic() - shown_at <= 45
    assert all(d["iconic"] for d in dialogs(hidden))
    # Wine shows the notification area in a window of its own when the desktop has none.
    tray = x_windows(display, TRAY_WINDOW, timeout=5)
    assert len(tray) == 1, "no icon in the notification area"

    if come_back:
        x, y, width, height = x_geometry(display, tray[0])
        screenshot(display, ARTIFACTS / "tray.png", (x, y, x + width, y + height))
        # The icon: 16 pixels square, at the left of the area under the tray window's caption.
        icon = (x + 5, y + height - 21, x + 21, y + height - 5)
        # Its two frames take turns once a second.
        frames = set()
        for _ in range(5):
            frames.add(screen_pixels(display, icon))
            time.sleep(0.5)
        assert len(frames) == 2

        click(display, *center(icon))
        back = windows.wait(lambda w: any(d["visible"] for d in dialogs(w)), timeout=10,
                            what="the dialog to come back")
        assert not any(d["iconic"] for d in dialogs(back))
        assert eventually(lambda: x_windows(display, TRAY_WINDOW) == []), "the icon stayed"
        # The dialog came back centred, over the failure box that it owns.
        raise_x_windows(display, APP_CAPTION)

    # Otherwise the user answers the box without bringing the dialog back: the process ends, and
    # with it the icon.
    box, _ = windows.wait_box(APP_CAPTION)
    answer(display, box, "OK")
    assert run.wait(timeout=15) == 0
    assert eventually(lambda: x_windows(display, TRAY_WINDOW) == [], timeout=5), "the icon stayed"
