#pragma once

// The WinHTTP downloads that one connection type makes.
#include <windows.h>

#include <atomic>

#include "download/winhttp_wrapper.h"

// Fetches szUrl into szSaveFile with SafeDownloadFile for connection type nType: type 0 tries a
// direct download and then, unless the cancel flag is set, the Internet Explorer proxy; types 1
// to 3 make one download of their type; type 4 uses the configured proxy with its user name and
// password. Any other type downloads nothing. Every download gets the attempt's context, so a
// second one continues what the first left. Gives 1 on success, else 0.
int DownloadByType(DWORD nType, HWND hWndProgress, const std::atomic<LONG>* pbCancel,
                   std::atomic<LONG>* pnPercent, WinHttpWrapper* pWrapper, const wchar_t* szUrl,
                   const wchar_t* szSaveFile, const DownloadCallContext& context = {});
