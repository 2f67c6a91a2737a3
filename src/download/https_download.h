#pragma once

#include <windows.h>

#include <atomic>
#include <memory>

#include "base/test_hooks.h"
#include "download/https_download_url.h"
#include "download/resume_point.h"

// What an attempt gives the libcurl path beyond the address, the file and the progress targets.
struct HttpsDownloadOptions {
    // The bypass list of the Internet Explorer settings whose proxy is given; null: none.
    const wchar_t* szProxyBypass = nullptr;
    // The package's part already in the file, which only the rest is asked for, kept up to date
    // as the transfer writes; null: the file is made afresh and nothing is kept.
    ResumePoint* pResume = nullptr;
};

// Fetches szUrl into szSaveFile through libcurl, forcing the https scheme and following
// redirects; an HTTP error status fails the transfer. szProxy may be null or empty (no proxy).
// *pnPercent is set when the transfer is prepared: 0, or where a resumed transfer starts. Gives
// 1 on success, else -1.
int DownloadURLByHTTPS(const wchar_t* szProxy, const wchar_t* szUrl, const wchar_t* szSaveFile,
                       HWND hWndProgress, std::atomic<LONG>* pnPercent,
                       const HttpsDownloadOptions& options = {});

// A new ANSI (CP_ACP) copy of szText, or null for a null or empty text or a failed conversion.
std::unique_ptr<char[]> ToAnsiString(const wchar_t* szText);

// Converts szUrl to ANSI and writes it with the https scheme into szHttpsUrl (kHttpsUrlBytes).
// Gives 1, or 0 for a null argument, a failed conversion or an address too long for the buffer.
int MakeHttpsURL(const wchar_t* szUrl, char* szHttpsUrl);

// What libcurl's progress function moves: the progress bar (null: none), for a transfer that
// starts dBase bytes into the package, whose counts libcurl gives for the transfer alone.
struct CurlProgressTarget {
    HWND hWndProgress;
    double dBase;
    // The position last sent, -1 before the first.
    int nShown;
    // The answer now arriving is the package, or the rest asked for: an error page or a redirect
    // counts nothing towards it.
    bool bPackage = false;
};

// libcurl's progress function: moves the progress bar of the CurlProgressTarget (clientp) over
// the whole package once the size is known, whenever its position changes. Never aborts the
// transfer.
int CurlProgressCallback(void* clientp, double dDownloadTotal, double dDownloaded,
                         double dUploadTotal, double dUploaded);
