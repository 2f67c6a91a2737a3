#pragma once

// One download attempt on a thread of its own, watched by a once-a-second stall watchdog.
#include <windows.h>

#include <atomic>

class WinHttpWrapper;

// Shared by the worker and the launcher for the attempts of a run. It shows the attempt that runs
// now; the download thread works on the attempt's own state, which the launcher copies here.
struct DownloadThreadParam {
    const wchar_t* szUrl = nullptr;
    const wchar_t* szSaveFile = nullptr;
    HWND hWndProgress = nullptr;
    DWORD nType = 0;
    std::atomic<LONG> bCancel{0};
    std::atomic<LONG> nPercent{0};
    std::atomic<LONG> bCurlPhase{0};
    std::atomic<bool> bFinished{false};
    std::atomic<LONG> nResult{0};
};

// Runs one attempt and blocks until it ends or the watchdog gives up on it; 1 on success, else 0.
int DownloadFile(DownloadThreadParam* param, const wchar_t* szUrl, const wchar_t* szSaveFile,
                 HWND hWndProgress, DWORD nType);

// Removes the files of the attempts that were given up while their threads still ran; a file
// still in use is scheduled for removal at the next restart instead. The workflow's clean-up calls
// this before it removes (or schedules) the download folder, which they would otherwise keep.
void RemoveAbandonedAttemptFiles();
