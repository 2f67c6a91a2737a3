// One timed download of a package, in a process of its own so that its peak working set is its
// own: download_bench MODE URL FILE. Prints one line of key=value figures.
//   idle                nothing: the process's own footprint
//   curl-path           DownloadURLByHTTPS, with a progress bar on another thread
//   curl-ref            a bare libcurl transfer written with fwrite
//   winhttp-path        SafeDownloadFile (direct connection), with its per-chunk log lines and
//                       the progress bar; its log lines are then written once more, alone, to
//                       time what the log costs
//   winhttp-path-nolog  the same with the log made unwritable
//   winhttp-ref         a bare WinHTTP QueryDataAvailable / ReadData / WriteFile loop
//   run                 the download stage of a whole run (DownloadPackage: up to six attempts,
//                       each libcurl then WinHTTP, with their prescribed waits, each try resuming
//                       what the last one left) and the decoding of the package
//                       (DecodePackageFile): the time to a decoded installer
#include <windows.h>

#include <psapi.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "app/setup_worker.h"
#include "download/download_file.h"
#include "download/https_download.h"
#include "download/winhttp_wrapper.h"
#include "system/package_decode.h"
#include "ui/setup_dialog_view.h"
#include "download_bench_reference.h"
#include "download_bench_support.h"

namespace {

struct Outcome {
    bool bOk = false;
    double dSeconds = 0;
    // The peak working set when the download ended, before the bench's own work after it; 0:
    // taken at the end.
    unsigned long long nPeak = 0;
    size_t nLogLines = 0;
    double dLogSeconds = -1;  // negative: not measured
};

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

unsigned long long FileBytes(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

unsigned long long PeakWorkingSet() {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters))) return 0;
    return counters.PeakWorkingSetSize;
}

Outcome RunWinHttpPath(const std::wstring& url, const std::wstring& file, bool bReplayLog) {
    Outcome outcome;
    ProgressBarThread progress;
    WinHttpWrapper wrapper;
    std::atomic<LONG> cancel{0};
    std::atomic<LONG> percent{0};
    const unsigned long long nLogStart = LogSize();
    const double start = Seconds();
    outcome.bOk = wrapper.SafeDownloadFile(url.c_str(), file.c_str(), progress.window(), &cancel,
                                           WinHTTP_Download_Type_Direct_Connect, nullptr, nullptr,
                                           &percent) == 1;
    outcome.dSeconds = Seconds() - start;
    // The replay below holds every log line in memory: the download's peak is taken first.
    outcome.nPeak = PeakWorkingSet();
    if (bReplayLog) {
        const std::vector<std::wstring> lines = LogLinesSince(nLogStart);
        outcome.nLogLines = lines.size();
        outcome.dLogSeconds = ReplayLogLines(lines);
    }
    return outcome;
}

// The dialog as the download stage sees it: the progress bar, and nothing else to show.
class BenchView final : public SetupDialogView {
  public:
    explicit BenchView(HWND hWndProgress) : m_hWndProgress(hWndProgress) {}
    HWND MainWindow() override { return nullptr; }
    HWND ProgressBar() override { return m_hWndProgress; }
    bool Hide() override { return false; }
    void SetProgress(int) override {}
    void SetStatusText(const wchar_t*) override {}
    void PauseStatusText() override {}
    void ResumeStatusText() override {}
    int ShowMessageBox(const wchar_t*, UINT) override { return IDOK; }
    void EndSetupDialog() override {}
    void RemoveTrayIcon() override {}

  private:
    HWND m_hWndProgress;
};

Outcome RunToDecodedInstaller(const std::wstring& url, const std::wstring& file) {
    Outcome outcome;
    ProgressBarThread progress;
    BenchView view(progress.window());
    // As the worker does; never freed, as a thread given up on may still use it.
    WinHttpWrapper* pWrapper = new WinHttpWrapper();
    const std::wstring decoded = file + L".decoded";
    const double start = Seconds();
    outcome.bOk = DownloadPackage(view, pWrapper, file, url, url) == 1 &&
                  DecodePackageFile(file.c_str(), decoded.c_str()) == kDecodeOk;
    outcome.dSeconds = Seconds() - start;
    DeleteFileW(decoded.c_str());
    return outcome;
}

Outcome Run(const std::wstring& mode, const std::wstring& url, const std::wstring& file) {
    Outcome outcome;
    if (mode == L"idle") {
        outcome.bOk = true;
    } else if (mode == L"curl-path") {
        ProgressBarThread progress;
        std::atomic<LONG> percent{0};
        const double start = Seconds();
        outcome.bOk = DownloadURLByHTTPS(nullptr, url.c_str(), file.c_str(), progress.window(),
                                         &percent) == 1;
        outcome.dSeconds = Seconds() - start;
    } else if (mode == L"curl-ref") {
        const double start = Seconds();
        outcome.bOk = BareCurlTransfer(Narrow(url), file);
        outcome.dSeconds = Seconds() - start;
    } else if (mode == L"winhttp-path") {
        outcome = RunWinHttpPath(url, file, true);
    } else if (mode == L"winhttp-path-nolog") {
        const LogMadeUnwritable noLog;
        if (noLog.active()) outcome = RunWinHttpPath(url, file, false);
    } else if (mode == L"run") {
        outcome = RunToDecodedInstaller(url, file);
    } else if (mode == L"winhttp-ref") {
        const double start = Seconds();
        outcome.bOk = BareWinHttpTransfer(url, file);
        outcome.dSeconds = Seconds() - start;
    }
    return outcome;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) {
        std::fputs("usage: download_bench MODE URL FILE\n", stderr);
        return 2;
    }
    const std::wstring mode = argv[1];
    const std::wstring file = argv[3];
    DeleteFileW(file.c_str());
    const Outcome outcome = Run(mode, argv[2], file);
    std::printf(
        "mode=%s ok=%d seconds=%.3f bytes=%llu peak_ws=%llu log_lines=%u log_seconds=%.3f\n",
        Narrow(mode).c_str(), outcome.bOk ? 1 : 0, outcome.dSeconds, FileBytes(file),
        outcome.nPeak != 0 ? outcome.nPeak : PeakWorkingSet(),
        static_cast<unsigned>(outcome.nLogLines), outcome.dLogSeconds);
    DeleteFileW(file.c_str());
    return outcome.bOk ? 0 : 1;
}
