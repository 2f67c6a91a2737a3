#pragma once

// The launcher of one download attempt: it starts the attempt's thread and watches it once a
// second, cancelling a WinHTTP transfer that has stalled and giving up on a thread that does not
// end in time after that.
#include <windows.h>

#include "download/winhttp_wrapper.h"

// What one attempt did, as the launcher last saw it.
struct AttemptOutcome {
    int nResult = 0;          // 1 when the package was written to the caller's file
    bool bFinished = false;   // the thread ended while the launcher waited
    bool bCancelled = false;  // the watchdog cancelled a stalled WinHTTP transfer
    bool bCurlPhase = false;  // the thread was still in its libcurl phase
    LONG nPercent = 0;        // the percentage of the package received
};

// Runs one attempt through the download object pWrapper and blocks until it ends or the watchdog
// gives up on it.
AttemptOutcome DownloadFile(WinHttpWrapper* pWrapper, const wchar_t* szUrl,
                            const wchar_t* szSaveFile, HWND hWndProgress, DWORD nType);
