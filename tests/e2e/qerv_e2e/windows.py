"""The X side: a private Xvfb display, the setup's windows as the window probe reads them (Wine
gives child controls no X windows, so xdotool cannot), real clicks and keys through xdotool, and
screenshots."""
import contextlib
import json
import os
import re
import subprocess
import tempfile
import time
from pathlib import Path

from qerv_e2e import PROBE_EXE, SESSION_LIFETIME_S, eventually
from qerv_e2e.wine import Feed, kill_group

CAPTION = "Qerv Vantorel Installation"
# Boxes shown through the framework carry the application name, the executable's name.
APP_CAPTION = "QervSetupOnline"


@contextlib.contextmanager
def xvfb_display():
    number = 90
    while Path(f"/tmp/.X11-unix/X{number}").exists() or Path(f"/tmp/.X{number}-lock").exists():
        number += 1
    xvfb = subprocess.Popen(["timeout", str(SESSION_LIFETIME_S), "Xvfb", f":{number}", "-screen",
                             "0", "1024x768x24", "-nolisten", "tcp"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        eventually(Path(f"/tmp/.X11-unix/X{number}").exists)
        yield f":{number}"
    finally:
        xvfb.terminate()
        xvfb.wait(timeout=10)


def probe_state(line):
    try:
        return json.loads(line)["windows"]
    except ValueError:
        return None


def dialogs(windows):
    return [w for w in windows if w["kind"] == "dialog"]


def boxes(windows):
    return [w for w in windows if w["kind"] == "box" and w["visible"]]


def visible_dialog(windows):
    """The setup dialog when it is shown and answers (its status text can be read)."""
    return next((w for w in dialogs(windows) if w["visible"] and w.get("status") is not None), None)


class WindowWatch(Feed):
    """The probe's states over time, each the list of the setup's dialog windows (the dialog and
    any message box) as dicts (tests/e2e/probe/window_probe.cpp)."""

    def __init__(self, wine, period_ms=50):
        self.process = wine.popen(PROBE_EXE, "watch", period_ms, SESSION_LIFETIME_S * 1000,
                                  debug="-all")
        super().__init__(self.process.stdout, probe_state)
        # The probe's first line (nothing, or what is open already) says that it is looking.
        self.wait(lambda windows: True, what="the probe to start")

    def wait(self, predicate, timeout=30, what="the expected windows"):
        """The first state, from the present one on, for which predicate holds."""
        found = super().wait(predicate, timeout, start=max(len(self.timed()) - 1, 0))
        assert found is not None, f"timed out waiting for {what}; last: {self.latest()}"
        return found

    def wait_box(self, title=None, timeout=30):
        """The first message box shown (with that title), and the state it was seen in."""
        def matching(windows):
            return [b for b in boxes(windows) if title in (None, b["title"])]
        state = self.wait(matching, timeout, what=f"a message box {title or ''}")
        return matching(state)[0], state

    def latest(self):
        return (self.items() or [None])[-1]

    def status_texts(self, hidden_too=False):
        """The distinct texts of the dialog's status line while shown (or always, with
        hidden_too: the dialog hides itself in the tray after forty seconds), in order."""
        texts = []
        for windows in self.items():
            for window in dialogs(windows):
                if (window["status"] and (window["visible"] or hidden_too)
                        and texts[-1:] != [window["status"]]):
                    texts.append(window["status"])
        return texts

    def shown_seconds(self):
        """How long the dialog was shown, summed over the changes seen."""
        history = self.timed()
        return sum(later - stamp for (stamp, windows), (later, _) in zip(history, history[1:])
                   if any(window["visible"] for window in dialogs(windows)))

    def any_box(self):
        return any(boxes(windows) for windows in self.items())

    def stop(self):
        kill_group(self.process)


def xdotool(display, *args, check=True):
    return subprocess.run(["xdotool", *map(str, args)], env=dict(os.environ, DISPLAY=display),
                          capture_output=True, text=True, check=check)


def click(display, x, y):
    """A real left click at a screen point. Wine needs to see the pointer arrive before it takes
    the press, and a short press, as a hand would give."""
    xdotool(display, "mousemove", x, y)
    time.sleep(0.25)
    xdotool(display, "mousedown", 1)
    time.sleep(0.1)
    xdotool(display, "mouseup", 1)


def center(rect):
    return (rect[0] + rect[2]) // 2, (rect[1] + rect[3]) // 2


def answer(display, box, label):
    """Clicks the box's button whose text (without its mnemonic mark) is label."""
    for button in box["buttons"]:
        if (button["text"] or "").replace("&", "") == label:
            click(display, *center(button["rect"]))
            return
    raise AssertionError(f"no button {label!r} in {box}")


def x_windows(display, name, timeout=0):
    """Visible X windows whose name is exactly name, waiting up to timeout seconds for one."""
    deadline = time.monotonic() + timeout
    while True:
        found = xdotool(display, "search", "--onlyvisible", "--name", f"^{re.escape(name)}$",
                        check=False).stdout.split()
        if found or time.monotonic() >= deadline:
            return found
        time.sleep(0.2)


def raise_x_windows(display, name):
    """Puts the visible X windows named name on top: without a window manager Wine does not always
    keep an owned box above its owner once the owner is back in front, as Windows would."""
    for window in x_windows(display, name):
        xdotool(display, "windowraise", window)
    time.sleep(0.3)


def x_geometry(display, window):
    shell = xdotool(display, "getwindowgeometry", "--shell", window).stdout
    values = dict(line.split("=", 1) for line in shell.split())
    return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])


def screenshot(display, path, rect=None):
    """The screen, or the rectangle (left, top, right, bottom) of it, as a PNG."""
    path = Path(path)
    path.parent.mkdir(parents=True, exist_ok=True)
    args = ["/usr/bin/import", "-window", "root"]
    if rect is not None:
        left, top, right, bottom = rect
        args += ["-crop", f"{right - left}x{bottom - top}+{left}+{top}", "+repage"]
    subprocess.run(args + [str(path)], env=dict(os.environ, DISPLAY=display), check=True)
    return path


def screen_pixels(display, rect):
    """The rectangle's pixels as RGB bytes."""
    left, top, right, bottom = rect
    with tempfile.TemporaryDirectory() as folder:
        path = screenshot(display, Path(folder) / "part.png", rect)
        pixels = subprocess.run(["convert", str(path), "rgb:-"], capture_output=True,
                                check=True).stdout
    assert len(pixels) == 3 * (right - left) * (bottom - top), "unexpected picture size"
    return pixels


def is_centred(window):
    """Whether the window stands in the middle of its monitor's work area, give or take the pixel
    that an odd difference in size leaves."""
    return all(abs(window["rect"][i] + window["rect"][i + 2] - window["work_area"][i]
                   - window["work_area"][i + 2]) <= 1 for i in (0, 1))


# The colours that tell the system's box icons apart: the exclamation mark's yellow triangle, the
# error's red disc, and the blue of the question mark (and of the information sign).
ICON_COLOURS = {
    "exclamation": lambda r, g, b: r > 180 and g > 150 and b < 100,
    "error": lambda r, g, b: r > 150 and g < 90 and b < 90,
    "question": lambda r, g, b: b > 150 and r < 110,
}


def box_icon(display, box):
    """Which system icon a message box shows, read from the screen: "exclamation", "error",
    "question", or None when it shows none."""
    if box.get("icon_rect") is None:
        return None
    pixels = screen_pixels(display, box["icon_rect"])
    counts = {name: sum(matches(*pixels[i:i + 3]) for i in range(0, len(pixels), 3))
              for name, matches in ICON_COLOURS.items()}
    name, count = max(counts.items(), key=lambda item: item[1])
    return name if count > 0 else None
