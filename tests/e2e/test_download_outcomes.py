"""How the download ends: a later connection type after failed direct attempts, every attempt
failing, and a package that cannot be decoded (each shown, or only traced in a hidden run)."""
import pytest

from qerv_e2e import PROXY_NAME_SETUP_EXE, RECORDER_EXE
from qerv_e2e.servers import pack
from qerv_e2e.setup_run import HIDDEN_RUN_FLASH_S
from qerv_e2e.setup_texts import (COMPLETED, DEFAULT_PROXY_PREFIX, FAILED, SWITCH_TO_DEFAULT_PROXY,
                                  SWITCH_TO_IE_PROXY)
from qerv_e2e.windows import APP_CAPTION, answer, box_icon, visible_dialog
from qerv_e2e.wine import (HKLM_QERV, IE_CONNECTIONS, WINHTTP_CONNECTIONS, ie_settings,
                            winhttp_settings)

FAILED_ENGLISH = "Errors occur when downloading. Please try again latter!"

DIRECT = "WrapperOpen type WinHTTP_Download_Type_Direct_Connect"
IE_PROXY = "WrapperOpen type WinHTTP_Download_Type_By_IE_Proxy"
DEFAULT_PROXY = "WrapperOpen type WinHTTP_Download_Type_By_Default_Proxy"


def wrapper_opens(log_lines):
    return [line.split(",")[0] for line in log_lines if line.startswith("WrapperOpen type ")]


def notices(texts):
    return [text for text in texts if text in (SWITCH_TO_IE_PROXY, SWITCH_TO_DEFAULT_PROXY)]


@pytest.mark.parametrize("settings, expected_notices, attempts, winhttp_sessions", [
    # The user's Internet Explorer proxy: the third attempt, through libcurl, which takes the
    # proxy list from those settings.
    pytest.param((IE_CONNECTIONS, "DefaultConnectionSettings", ie_settings), [SWITCH_TO_IE_PROXY],
                 3, [DIRECT, DIRECT], id="ie-proxy"),
    # WinHTTP's default proxy: the fifth attempt, on the WinHTTP path.
    pytest.param((WINHTTP_CONNECTIONS, "WinHttpSettings", winhttp_settings),
                 [SWITCH_TO_IE_PROXY, SWITCH_TO_DEFAULT_PROXY], 5,
                 [DIRECT, DIRECT, IE_PROXY, IE_PROXY, DEFAULT_PROXY], id="default-proxy"),
])
def test_direct_attempts_fail_and_a_proxy_works(servers, registry, publish, windows, start_setup,
                                                trace_log, settings, expected_notices,
                                                attempts, winhttp_sessions):
    key, name, encode = settings
    proxy = f"127.0.0.1:{servers['QERV_TEST_PROXY_PORT']}"
    # Internet Explorer's settings live in the user's own hive, which has one view only. WinHTTP
    # reads its default proxy in the process's own view: it is set in both, as an administrator
    # sets it on 64-bit Windows, so that the 32-bit and the 64-bit build find it.
    for view in [None] if key == IE_CONNECTIONS else ["/reg:32", "/reg:64"]:
        registry.set(key, name, "REG_BINARY", encode(proxy).hex(), view=view)
    publish()
    run = start_setup("/abc", program=PROXY_NAME_SETUP_EXE)
    assert run.wait() == 0

    texts = windows.status_texts()
    assert notices(texts) == expected_notices
    assert texts[-1] == COMPLETED
    if DEFAULT_PROXY in winhttp_sessions:
        assert any(text.startswith(DEFAULT_PROXY_PREFIX) for text in texts)
    assert run.traces.count("Start DownloadThread") == attempts
    assert any("Could not resolve host: qerv-update.test" in text for text in run.traces)
    assert wrapper_opens(trace_log()) == winhttp_sessions
    assert run.installer_arguments() == " /abc x"


def break_package(package, how):
    """Nothing published (every attempt gets 404), or a package that fails decoding."""
    if how == "no-header":
        package.write_bytes(b"MZ not a package at all" * 64)
    elif how == "digest-mismatch":
        data = bytearray(pack(RECORDER_EXE, package).read_bytes())
        data[-1] ^= 0xFF
        package.write_bytes(bytes(data))


def traced(run, prefix):
    return any(text.startswith(prefix) for text in run.traces)


@pytest.mark.parametrize("broken", [None, "no-header", "digest-mismatch"],
                         ids=["nothing-published", "no-header", "digest-mismatch"])
def test_failure_is_shown_when_nothing_is_left(display, windows, start_setup, trace_log, publish,
                                               broken):
    if broken:
        break_package(publish(), broken)
    run = start_setup(*(["/abc"] if broken else []))
    box, shown = windows.wait_box(APP_CAPTION, timeout=90)
    assert box["text"] == FAILED
    assert visible_dialog(shown)["status"] == FAILED
    # The folder is gone before the user is told.
    assert not run.download_folder().exists()
    if broken:
        # Nothing was started.
        assert traced(run, "MoveFileEx eror: ") and not traced(run, "szProcessPath")
    else:
        assert box_icon(display, box) == "error"
        assert visible_dialog(shown)["progress"] == 0
        assert "pqrlo - 1: bRet = 0" in run.traces
        texts = windows.status_texts()
        assert notices(texts) == [SWITCH_TO_IE_PROXY, SWITCH_TO_DEFAULT_PROXY]
        assert texts[-1] == FAILED
        assert run.traces.count("Start DownloadThread") == 6
        log = trace_log()
        assert wrapper_opens(log) == [DIRECT, DIRECT, IE_PROXY, IE_PROXY, DEFAULT_PROXY,
                                      DEFAULT_PROXY]
        assert "SafeDownloadFile: authentication failed, dwLastStatus = 404" in log

    answer(display, box, "OK")
    assert run.wait(timeout=15) == 0


@pytest.mark.parametrize("broken", [None, "digest-mismatch"],
                         ids=["nothing-published", "digest-mismatch"])
def test_failure_in_a_hidden_run_is_only_traced(registry, publish, windows, start_setup, broken):
    """Message 1 only on the debugger output, no box, no window beyond the first moment, and
    nothing left behind."""
    # English, so that the debugger output (ANSI text) carries the message unchanged.
    registry.set(HKLM_QERV, "fGiaodien", "REG_DWORD", 1)
    if broken:
        break_package(publish(), broken)
    run = start_setup("/DownloadOnly")
    assert run.wait(timeout=90) == 0

    assert run.traces[-1] == FAILED_ENGLISH
    assert traced(run, "MoveFileEx eror: ") == bool(broken)
    assert not run.download_folder().exists()
    assert not (run.folder / "SetupB.exe").exists()
    assert not windows.any_box()
    assert windows.shown_seconds() < HIDDEN_RUN_FLASH_S
