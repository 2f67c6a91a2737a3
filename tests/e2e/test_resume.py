"""A package through a link that drops every connection after 40 % of the package: each try asks
only for the rest of what the tries before it got, and the setup starts the installer."""
from pathlib import Path

from qerv_e2e import RECORDER_EXE
from qerv_e2e.servers import PACKAGE_NAME
from qerv_e2e.setup_texts import COMPLETED


def package_requests(servers):
    """The Range header of each request for the package that the fault server got, in order
    ("-" for none)."""
    log = Path(servers["QERV_TEST_FAULT_LOG"])
    lines = log.read_text().splitlines() if log.exists() else []
    return [line.split(" range=", 1)[1].split(" ", 1)[0] for line in lines
            if line.startswith(f"/file/qerv/{PACKAGE_NAME} ")]


def test_package_arrives_through_a_link_that_drops_every_connection(servers, publish, windows,
                                                                     start_setup, trace_log):
    package = publish()
    total = package.stat().st_size
    # nginx hands the package over to the fault server, which serves it as nginx would, byte
    # ranges and ETag included, and closes each connection after 40 % of the package.
    fault = package.with_name(package.name + ".fault")
    fault.write_text("cut=40%")
    try:
        before = len(package_requests(servers))
        run = start_setup("/abc")
        assert run.wait() == 0
        requests = package_requests(servers)[before:]
    finally:
        fault.unlink()

    assert run.installer_arguments() == " /abc x"
    assert (run.download_folder() / "SetupB.exe").read_bytes() == RECORDER_EXE.read_bytes()
    # libcurl gets the first 40 %; WinHTTP, in the same attempt, the next 40 %; the second
    # attempt's libcurl the rest.
    first, second = total * 40 // 100, total * 80 // 100
    assert requests == ["-", f"bytes={first}-", f"bytes={second}-"]
    assert run.traces.count("Start DownloadThread") == 2
    assert (f"SafeDownloadFile: resume dwCurrentDownloaded = {first}, TotalDownloadSize = {total}"
            in trace_log())
    assert windows.status_texts()[-1] == COMPLETED
