#include "download/download_file.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/debug_trace.h"
#include "app/sleep.h"
#include "download/download_thread.h"

namespace {

constexpr unsigned kSampleMs = 1000;
constexpr unsigned kAfterAttemptMs = 2000;
// A WinHTTP transfer must gain a percentage point within this many samples.
constexpr int kStallSamples = 5;
constexpr LONG kCompletePercent = 100;
// A complete download whose move onto the caller's file fails (a scanner may hold it a moment)
// is tried again this often before it is given up.
constexpr int kMoveTries = 5;
constexpr unsigned kMoveRetryMs = 200;

// Files of attempts that were given up while their threads still ran. Such a thread removes its
// file when it ends, but the process may end first.
std::mutex g_abandonedLock;
std::vector<std::wstring>& AbandonedFiles() {
    static std::vector<std::wstring>* files = new std::vector<std::wstring>();
    return *files;
}

struct HandleCloser {
    void operator()(HANDLE hHandle) const { CloseHandle(hHandle); }
};
using ThreadHandle = std::unique_ptr<void, HandleCloser>;

// The worker's record shows the attempt that runs now, as the launcher last saw it; the thread
// itself writes only to the attempt's own state.
void ShowInRecord(DownloadThreadParam* param, const DownloadAttempt& attempt) {
    param->nPercent = attempt.nPercent.load();
    param->bCurlPhase = attempt.bCurlPhase.load();
}

// Samples the attempt once a second until its thread finishes, and cancels a WinHTTP transfer
// whose percentage has not risen in kStallSamples samples. The libcurl phase is not watched.
void WatchAttempt(DownloadThreadParam* param, DownloadAttempt& attempt) {
    LONG nPrevious = attempt.nPercent.load() - 1;
    int nStalls = 0;
    while (!attempt.IsFinished()) {
        const LONG nPercent = attempt.nPercent.load();
        if (attempt.bCurlPhase.load() == 0) {
            DebugTrace(L"Download percent: %d", static_cast<int>(nPercent));
            // Once the whole body has arrived only the write to disk is left, which is no stall.
            if (nPercent > nPrevious || nPercent >= kCompletePercent) {
                nStalls = 0;
            } else if (++nStalls == kStallSamples) {
                DebugTrace(L"Cancel download");
                attempt.bCancel = 1;
                param->bCancel = 1;
                return;
            }
        }
        nPrevious = nPercent;
        ShowInRecord(param, attempt);
        SleepFor(kSampleMs);
    }
}

// The attempt's outcome once the launcher stops waiting. A thread still at work is left to
// clean up after itself and counts as a failure; a finished download is moved onto the
// caller's file.
int TakeOutcome(DownloadThreadParam* param, DownloadAttempt& attempt, const wchar_t* szSaveFile) {
    ShowInRecord(param, attempt);
    if (attempt.Abandon()) {
        const std::lock_guard<std::mutex> lock(g_abandonedLock);
        AbandonedFiles().emplace_back(attempt.szOwnFile());
        return 0;
    }
    param->bFinished = true;
    if (attempt.nResult.load() != 1) return 0;
    for (int nTry = 1; !MoveFileExW(attempt.szOwnFile(), szSaveFile, MOVEFILE_REPLACE_EXISTING);
         ++nTry) {
        if (nTry == kMoveTries) {
            attempt.DeleteOwnFile();
            return 0;
        }
        SleepFor(kMoveRetryMs);
    }
    param->nResult = 1;
    return 1;
}

}  // namespace

int DownloadFile(DownloadThreadParam* param, const wchar_t* szUrl, const wchar_t* szSaveFile,
                 HWND hWndProgress, DWORD nType) {
    param->szUrl = szUrl;
    param->szSaveFile = szSaveFile;
    param->hWndProgress = hWndProgress;
    param->nType = nType;
    param->nResult = 0;
    param->nPercent = 0;
    param->bFinished = false;
    // Each attempt starts with its own clear flag, so one stall does not stop the later ones.
    param->bCancel = 0;

    DownloadAttemptRef attempt(DownloadAttempt::Create(szUrl, szSaveFile, hWndProgress, nType));
    if (!attempt) return param->nResult;
    const ThreadHandle thread(StartDownloadThread(attempt.get()));
    if (!thread) return param->nResult;

    WatchAttempt(param, *attempt.get());
    SleepFor(kAfterAttemptMs);
    return TakeOutcome(param, *attempt.get(), szSaveFile);
}

void RemoveAbandonedAttemptFiles() {
    const std::lock_guard<std::mutex> lock(g_abandonedLock);
    for (const std::wstring& file : AbandonedFiles()) {
        // A thread that has ended removed its file already; one still at work holds it open.
        if (!DeleteFileW(file.c_str()) &&
            GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES) {
            MoveFileExW(file.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
        }
    }
    AbandonedFiles().clear();
}
