#pragma once

// Every seam through which a test injects a fault or compresses time, in one place. The program
// itself never sets a hook: each starts out empty, which is the real behaviour, and a null value
// puts the real behaviour back.
//
// Set here:
//   SetSleepFunction          every wait: status tick, watchdog samples, the pause after an
//                             attempt, retry pauses, notices (base/sleep.cpp)
//   SetDebugTraceObserver     sees every DebugTrace line (base/debug_trace.cpp)
//   SetHttpsDownloadFunction  the libcurl phase of an attempt (download/download_thread_win32.cpp)
//   SetCurlCrawlFloor         the speed below which a libcurl transfer counts as crawling
//                             (download/https_download_win32.cpp)
//   SetSignerUnreadable       a sound signature whose signer cannot be read
//                             (system/installer_signer_win32.cpp)
// Called directly:
//   RestrictDllSearchWithoutDefaultDirectories  the DLL search's way on a system that lacks
//                             SetDefaultDllDirectories (base/dll_search.h)
// Handed in instead of set:
//   WinHttpApi                the WinHTTP operations, given to WinHttpWrapper (download/)
//   InstallerStarter          the process starts of the launch, given to RunInstallerLaunch (app/)
//   SetupWorkerEntry          the sequence the dialog starts, given to CQervOnlineSetupDlg (ui/)
#ifdef _WIN32
#include <windows.h>

#include <atomic>
#endif

using SleepFunction = void (*)(unsigned milliseconds);
void SetSleepFunction(SleepFunction function);

using DebugTraceObserver = void (*)(const wchar_t* line);
void SetDebugTraceObserver(DebugTraceObserver observer);

#ifdef _WIN32
// The libcurl path as an attempt's thread calls it (DownloadURLByHTTPS), to script the libcurl
// phase without a network.
using HttpsDownloadFunction = int (*)(const wchar_t* szProxy, const wchar_t* szUrl,
                                      const wchar_t* szSaveFile, HWND hWndProgress,
                                      std::atomic<LONG>* pnPercent);
void SetHttpsDownloadFunction(HttpsDownloadFunction function);

// A libcurl transfer slower than bytesPerSecond for seconds fails (by default 1024 bytes a second
// for 60 seconds); 0 for either puts the default back.
void SetCurlCrawlFloor(long bytesPerSecond, long seconds);

// While set, the signer of a signature that WinVerifyTrust accepted reads as missing, as when the
// trust provider gives no signer certificate; the check must then refuse the installer.
void SetSignerUnreadable(bool unreadable);
#endif
