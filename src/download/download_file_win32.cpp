#include "download/download_file.h"

#include "base/debug_trace.h"
#include "base/scoped_handle.h"
#include "base/sleep.h"
#include "download/abandoned_files.h"
#include "download/download_attempt.h"
#include "download/download_thread.h"
#include "download/partial_download.h"

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

// What the launcher sees of the attempt at a look; the thread itself writes only to the
// attempt's own state.
void Look(const DownloadAttempt& attempt, AttemptOutcome* outcome) {
    outcome->nPercent = attempt.nPercent.load();
    outcome->bCurlPhase = attempt.bCurlPhase.load() != 0;
}

// Samples the attempt once a second until its thread finishes, and cancels a WinHTTP transfer
// whose percentage has not risen in kStallSamples samples. The libcurl phase is not watched.
void WatchAttempt(DownloadAttempt& attempt, AttemptOutcome* outcome) {
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
                outcome->bCancelled = true;
                return;
            }
        }
        nPrevious = nPercent;
        Look(attempt, outcome);
        SleepFor(kSampleMs);
    }
}

// The attempt's outcome once the launcher stops waiting. A thread still at work is left to
// clean up after itself and counts as a failure; a finished download is moved onto the
// caller's file.
void TakeOutcome(DownloadAttempt& attempt, const wchar_t* szSaveFile, AttemptOutcome* outcome) {
    Look(attempt, outcome);
    if (attempt.Abandon()) {
        attempt.gate.Close();
        RememberAbandonedFile(attempt.szOwnFile());
        return;
    }
    outcome->bFinished = true;
    if (attempt.nResult.load() != 1) return;
    for (int nTry = 1; !MoveFileExW(attempt.szOwnFile(), szSaveFile, MOVEFILE_REPLACE_EXISTING);
         ++nTry) {
        if (nTry == kMoveTries) {
            attempt.DeleteOwnFile();
            return;
        }
        SleepFor(kMoveRetryMs);
    }
    // The package is whole: no part of it is kept for a later try, nor taken from a late thread.
    DiscardPartialDownloads();
    outcome->nResult = 1;
}

}  // namespace

AttemptOutcome DownloadFile(WinHttpWrapper* pWrapper, const wchar_t* szUrl,
                            const wchar_t* szSaveFile, HWND hWndProgress, DWORD nType) {
    AttemptOutcome outcome;
    OpenPartialDownloads();
    DownloadAttemptRef attempt(
        DownloadAttempt::Create(szUrl, szSaveFile, hWndProgress, nType, pWrapper));
    if (!attempt) return outcome;
    const ScopedHandle thread(StartDownloadThread(attempt.get()));
    if (!thread.valid()) return outcome;

    WatchAttempt(*attempt.get(), &outcome);
    SleepFor(kAfterAttemptMs);
    TakeOutcome(*attempt.get(), szSaveFile, &outcome);
    return outcome;
}
