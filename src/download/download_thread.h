#pragma once

// The thread of one download attempt: the libcurl path first and, when that fails, the WinHTTP
// path of the attempt's connection type, each continuing what the tries before it left of the
// package. Tests script the libcurl phase through SetHttpsDownloadFunction.
#include <windows.h>

#include "base/test_hooks.h"
#include "download/download_attempt.h"

// The proxy string that the libcurl path gets for the Internet Explorer proxy type.
constexpr int kCurlProxyChars = 256;

// The thread procedure. pParam is a DownloadAttempt whose reference the thread adopts and
// releases at its end. Returns 0.
DWORD WINAPI DownloadThread(LPVOID pParam);

// Starts DownloadThread on the attempt with a reference of its own. Gives the thread's handle,
// or null when the thread cannot be created.
HANDLE StartDownloadThread(DownloadAttempt* pAttempt);
