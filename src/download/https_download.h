#pragma once

#include <windows.h>

#include <atomic>
#include <memory>

#include "base/test_hooks.h"
#include "download/https_download_url.h"

// Fetches szUrl into szSaveFile through libcurl, forcing the https scheme and following
// redirects; an HTTP error status fails the transfer. szProxy may be null or empty (no proxy).
// *pnPercent is set to 0 when the transfer is prepared. Gives 1 on success, else -1.
int DownloadURLByHTTPS(const wchar_t* szProxy, const wchar_t* szUrl, const wchar_t* szSaveFile,
                       HWND hWndProgress, std::atomic<LONG>* pnPercent);

// A new ANSI (CP_ACP) copy of szText, or null for a null or empty text or a failed conversion.
std::unique_ptr<char[]> ToAnsiString(const wchar_t* szText);

// Converts szUrl to ANSI and writes it with the https scheme into szHttpsUrl (kHttpsUrlBytes).
// Gives 1, or 0 for a null argument, a failed conversion or an address too long for the buffer.
int MakeHttpsURL(const wchar_t* szUrl, char* szHttpsUrl);

// libcurl's progress function: moves the progress bar (clientp) once the size is known. Never
// aborts the transfer.
int CurlProgressCallback(void* clientp, double dDownloadTotal, double dDownloaded,
                         double dUploadTotal, double dUploaded);
