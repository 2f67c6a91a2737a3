#pragma once

// The thread of one download attempt: the libcurl path first and, when that fails, the WinHTTP
// path of the attempt's connection type.
#include <windows.h>

#include <atomic>

#include "download/download_thread_attempt.h"

// The proxy string that the libcurl path gets for the Internet Explorer proxy type.
constexpr int kCurlProxyChars = 256;

// The thread procedure. pParam is a DownloadAttempt whose reference the thread adopts and
// releases at its end. Returns 0.
DWORD WINAPI DownloadThread(LPVOID pParam);

// Starts DownloadThread on the attempt with a reference of its own. Gives the thread's handle,
// or null when the thread cannot be created.
HANDLE StartDownloadThread(DownloadAttempt* pAttempt);

// The libcurl path as the thread calls it (DownloadURLByHTTPS). Tests replace it to script the
// libcurl phase without a network; a null function restores the real one.
using HttpsDownloadFunction = int (*)(const wchar_t* szProxy, const wchar_t* szUrl,
                                      const wchar_t* szSaveFile, HWND hWndProgress,
                                      std::atomic<LONG>* pnPercent);
void SetHttpsDownloadFunction(HttpsDownloadFunction function);
