"""What a user can put beside the elevated setup, or in its way, before or while it runs: DLLs
under system DLLs' names, a folder that redirects side-by-side DLLs, a link where the
download-only copy goes, and another program that keeps trying to swap the work folder and the
installer. None of it is loaded, followed, written through or started."""
import os
import shutil

from qerv_e2e import FOREIGN_EXE, PLANTED_DLLS, RECORDER_EXE, SWAPPER_EXE
from qerv_e2e.wine import Feed, kill_group
from qerv_e2e.windows import dialogs

# The DLLs that the setup, its start-up code and libcurl load after the program is mapped. A DLL
# that Wine's own system DLLs import when the program is mapped (its user32 imports version.dll)
# is found beside the program before any of the program's code runs, which a program cannot
# prevent and Windows does not do for those DLLs: version.dll is left out for that reason.
PLANTED = ("crypt32", "bcrypt", "winhttp", "secur32", "wintrust")
# Wine prefers a DLL found on the search path to its own for these names, as Windows does for a
# DLL that is not a known DLL.
NATIVE_FIRST = "mscoree,mshtml=;" + ",".join(PLANTED) + "=n,b"


def test_dlls_planted_beside_the_setup_are_not_loaded(publish, start_setup, setup_folder):
    for name in PLANTED:
        shutil.copy2(PLANTED_DLLS / f"{name}.dll", setup_folder / f"{name}.dll")
    overrides = {"WINEDLLOVERRIDES": NATIVE_FIRST}
    # A hidden run that finds no package goes through every attempt, over libcurl and WinHTTP;
    # a whole run then downloads, checks the installer's signer and starts it.
    failed = start_setup("/DownloadOnly", env=overrides, loader_lines=True)
    assert failed.wait() == 0
    publish()
    run = start_setup(env=overrides, loader_lines=True)
    assert run.wait() == 0
    assert run.installer_arguments() == "  x"

    loaded = [path.lower() for path in failed.loaded() + run.loaded()]
    for name in PLANTED:
        assert any(path.endswith(f"\\{name}.dll") for path in loaded), f"{name}.dll never loaded"
    folder = run.wine.windows_path(setup_folder).lower()
    assert [path for path in loaded if path.startswith(folder) and path.endswith(".dll")] == []
    assert not (setup_folder / "planted-dll-loaded.txt").exists()


def test_a_redirection_folder_beside_the_setup_ends_it_before_anything_shows(
        windows, start_setup, setup_folder):
    (setup_folder / "QervSetupOnline.exe.local").mkdir()
    run = start_setup()
    assert run.wait(timeout=60) == 0
    assert any(text.startswith("DLL redirection beside the program, setup ends: ")
               for text in run.traces), run.traces
    # It ended before its dialog: nothing was downloaded, nothing shown.
    assert not any(text.startswith("szDirectoryDownload") for text in run.traces)
    assert not windows.any_box()
    assert not any(dialogs(state) for state in windows.items())


def test_the_download_only_copy_replaces_a_link_not_its_target(publish, windows, start_setup,
                                                                setup_folder, tmp_path):
    victim = tmp_path / "victim.txt"
    victim.write_bytes(b"someone else's file")
    os.symlink(victim, setup_folder / "SetupB.exe")
    publish()
    run = start_setup("/DownloadOnly")
    assert run.wait() == 0
    copied = setup_folder / "SetupB.exe"
    assert not copied.is_symlink()
    assert copied.read_bytes() == RECORDER_EXE.read_bytes()
    assert victim.read_bytes() == b"someone else's file"
    assert not list(setup_folder.glob("*.part"))


def test_another_program_cannot_swap_the_installer_for_its_own(wine, publish, start_setup,
                                                                 setup_folder):
    foreign = setup_folder / "foreign.exe"
    shutil.copy2(FOREIGN_EXE, foreign)
    swapper = wine.popen(SWAPPER_EXE, "90", wine.windows_path(foreign), debug="-all")
    try:
        lines = Feed(swapper.stdout)
        assert lines.wait(lambda line: line.startswith("watching "), timeout=30)
        publish()
        run = start_setup()
        assert run.wait() == 0
        folder = run.download_folder()
        # The installer that was checked ran, and the foreign program never did, though the
        # other program went for the installer while the setup showed its outcome.
        assert run.installer_arguments() == "  x"
        assert not list(folder.glob("*.foreign"))
        assert any(line.startswith("saw ") and line.endswith("SetupB.exe")
                   for line in lines.items()), lines.items()
    finally:
        kill_group(swapper)
