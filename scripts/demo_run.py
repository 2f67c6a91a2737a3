#!/usr/bin/python3
"""The demo of scripts/demo.sh, once both builds exist: packs the sample installer, signed by the
build's test publisher, for that publisher's pin, serves the package over HTTPS from the loopback
nginx, runs QervSetupOnline.exe under Wine as a user would (no arguments), photographs its dialog whenever the status line says something new, and reports what
happened: the status line, the trace lines, the download trace log, the installer's command line,
its signer as the setup checked it, and the files left behind.

  PYTHONPATH=tests/e2e demo_run.py OUTPUT_FOLDER

Runs on $DISPLAY when there is one, else on a private Xvfb display. Stops every server and Wine
process it started.
"""
import contextlib
import os
import re
import shutil
import sys
import time
from pathlib import Path

from qerv_e2e import PUBLISHER_PIN_FILE, RECORDER_EXE, SETUP_EXE, WIN_BUILD, WINE_ARCH
from qerv_e2e.servers import PACKAGE_NAME, inspect, loopback_servers, pack
from qerv_e2e.setup_run import SetupRun, download_log_from_now, read_recorded
from qerv_e2e.windows import WindowWatch, dialogs, screenshot, visible_dialog, xvfb_display
from qerv_e2e.wine import wine_session

MAX_PICTURES = 6


def stage_of(status):
    """The status line without its animated dots, so that a new picture means a new message."""
    return re.sub(r"\.{1,3}$", "", status)


def photograph(display, windows, run, out):
    """Pictures of the dialog while the run goes on, one for each new message it shows."""
    pictures = []
    last = None
    while run.process.poll() is None and len(pictures) < MAX_PICTURES:
        dialog = visible_dialog(windows.latest() or [])
        if dialog and dialog["status"] and stage_of(dialog["status"]) != last:
            last = stage_of(dialog["status"])
            # A moment for the new text to be drawn.
            time.sleep(0.2)
            if visible_dialog(windows.latest() or []):
                path = out / f"dialog-{len(pictures) + 1}.png"
                screenshot(display, path, dialog["rect"])
                pictures.append((path, dialog["status"]))
        time.sleep(0.05)
    return pictures


def section(title):
    print(f"\n== {title}")


def main():
    out = Path(sys.argv[1]).resolve()
    own_display = not os.environ.get("DISPLAY")
    with contextlib.ExitStack() as stack:
        display = stack.enter_context(xvfb_display()) if own_display else os.environ["DISPLAY"]
        servers = stack.enter_context(loopback_servers(lifetime=600))
        wine = stack.enter_context(wine_session(display, WIN_BUILD / "wineprefix-demo",
                                                window_manager=not own_display))
        print(f"display {display} ({'private Xvfb' if own_display else 'yours'}), Wine prefix "
              f"{wine.prefix}")
        print(f"program: {SETUP_EXE} ("
              + ("the shipped 32-bit program" if WINE_ARCH == "32" and "x64" not in str(WIN_BUILD)
                 else "the 64-bit build, standing in for the 32-bit program") + ")")

        # The build's throw-away test publisher signed the sample installer, and the setup pins
        # that publisher's key; the tool refuses to pack what the setup would refuse.
        pin = PUBLISHER_PIN_FILE.read_text().strip()
        package = pack(RECORDER_EXE, servers["updates"] / PACKAGE_NAME, signers=[pin])
        print(f"package: the sample installer ({RECORDER_EXE.stat().st_size} bytes) packed into "
              f"https://127.0.0.1:{servers['QERV_TEST_HTTPS_PORT']}/qerv/{PACKAGE_NAME} "
              f"({package.stat().st_size} bytes) with qerv-pack pack --signer {pin}")
        for line in inspect(package):
            if line.startswith("signer"):
                print(f"  {line}")

        folder = wine.drive_c / "Qerv demo"
        shutil.rmtree(folder, ignore_errors=True)
        folder.mkdir(parents=True)
        shutil.copy2(SETUP_EXE, folder / SETUP_EXE.name)
        download_log = download_log_from_now(wine)
        windows = WindowWatch(wine)
        stack.callback(windows.stop)
        print(f"running {wine.windows_path(folder / SETUP_EXE.name)} under Wine")
        run = SetupRun(wine, folder)
        stack.callback(run.kill)
        pictures = photograph(display, windows, run, out)
        code = run.wait(timeout=180)
        elapsed = time.monotonic() - run.started

        section(f"the setup ended with exit code {code} after {elapsed:.1f} s")
        shown = [d for state in windows.items() for d in dialogs(state)]
        if shown:
            print(f"its dialog: \"{next(d['title'] for d in shown if d['title'])}\", cancel "
                  f"button \"{next(d['button'] for d in shown if d['button'])}\"")
        print("status line, in order:")
        for text in windows.status_texts():
            print(f"  {text}")

        section(f"screenshots of the dialog (in {out})")
        for path, status in pictures:
            print(f"  {path.name}: {status}")

        section("trace lines (the debugger output)")
        for text in run.traces:
            print(f"  {text}")

        section(r"download trace log C:\WinHTTPLib.log, lines of this run")
        lines = download_log()
        for line in lines:
            print(f"  {line}")
        if not lines:
            print("  (none: the first attempt went through libcurl, which does not write this log)")

        section("the installer")
        download_folder = run.download_folder()
        record = download_folder / "SetupB.exe.cmdline"
        if record.exists():
            command_line, current = read_recorded(record)
            print(f"  started with the command line: {command_line}")
            print(f"  in the folder:                 {current}")
            same = (download_folder / "SetupB.exe").read_bytes() == RECORDER_EXE.read_bytes()
            print(f"  SetupB.exe is the packed sample installer, byte for byte: {same}")
        else:
            print("  was not started")
        for text in run.traces:
            if text.startswith("Installer sign"):
                print(f"  its signature, as the setup checked it: {text}")
        print(f"  download folder {wine.windows_path(download_folder)}: "
              + ", ".join(sorted(p.name for p in download_folder.iterdir())))
        shutil.rmtree(folder, ignore_errors=True)
        return 0 if code == 0 and record.exists() else 1


if __name__ == "__main__":
    sys.exit(main())
