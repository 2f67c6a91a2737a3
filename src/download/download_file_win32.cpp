#include "download/download_file.h"

#include "app/debug_trace.h"
#include "app/shared_state.h"
#include "base/scoped_handle.h"
#include "base/sleep.h"
#include "download/https_download.h"
#include "download/partial_download.h"
#include "download/winhttp_rules.h"
#include "download/winhttp_wrapper.h"

#include <commctrl.h>

#include <cwchar>
#include <mutex>
#include <new>
#include <string>
#include <vector>

// One download attempt: its own state, shared by reference between the launcher and its thread;
// the thread with the libcurl path and then the WinHTTP path; and the launcher, DownloadFile, with
// its once-a-second stall watchdog.

namespace {

// Numbers the attempts of the process, so that each has a file name of its own.
std::atomic<LONG> g_nAttempts{0};

// Copies szText whole into szBuffer, or gives false when it does not fit.
bool CopyWhole(wchar_t* szBuffer, int nChars, const wchar_t* szText) {
    if (szText == nullptr) return false;
    const size_t nLength = wcsnlen(szText, static_cast<size_t>(nChars));
    if (nLength >= static_cast<size_t>(nChars)) return false;
    wmemcpy(szBuffer, szText, nLength + 1);
    return true;
}

}  // namespace

DownloadAttempt* DownloadAttempt::Create(const wchar_t* szUrl, const wchar_t* szSaveFile,
                                         HWND hWndProgress, DWORD nType) {
    DownloadAttempt* pAttempt = new (std::nothrow) DownloadAttempt();
    if (pAttempt == nullptr) return nullptr;
    DownloadAttemptRef attempt(pAttempt);
    if (!CopyWhole(pAttempt->m_szUrl, kAttemptUrlChars, szUrl) || szSaveFile == nullptr) {
        return nullptr;
    }
    // A cut name could fall on another file: refuse it instead.
    const int nWritten = _snwprintf(pAttempt->m_szOwnFile, kAttemptFileChars, L"%s.%ld.part",
                                    szSaveFile, static_cast<long>(++g_nAttempts));
    if (nWritten < 0 || nWritten >= kAttemptFileChars) return nullptr;
    pAttempt->m_hWndProgress = hWndProgress;
    pAttempt->m_nType = nType;
    return attempt.release();
}

void DownloadAttempt::AddRef() { ++m_nRefs; }

void DownloadAttempt::Release() {
    if (--m_nRefs == 0) delete this;
}

bool DownloadAttempt::EndAs(End end) {
    LONG nExpected = kRunning;
    return m_nEnd.compare_exchange_strong(nExpected, end);
}

bool DownloadAttempt::Finish() { return EndAs(kFinished); }

bool DownloadAttempt::Abandon() { return EndAs(kAbandoned); }

bool DownloadAttempt::IsFinished() const { return m_nEnd.load() == kFinished; }

void DownloadAttempt::DeleteOwnFile() const { DeleteFileW(m_szOwnFile); }

namespace {

std::atomic<HttpsDownloadFunction> g_httpsDownload{nullptr};

int DownloadByHttps(const wchar_t* szProxy, const std::wstring& bypass, DownloadAttempt& attempt) {
    if (const HttpsDownloadFunction scripted = g_httpsDownload.load()) {
        return scripted(szProxy, attempt.szUrl(), attempt.szOwnFile(), attempt.hWndProgress(),
                        &attempt.nPercent);
    }
    return DownloadURLByHTTPS(szProxy, attempt.szUrl(), attempt.szOwnFile(), attempt.hWndProgress(),
                              &attempt.nPercent,
                              {bypass.empty() ? nullptr : bypass.c_str(), &attempt.resume});
}

// Before each try: the attempt's own part counts only while its file is exactly that part, and
// a larger part that another attempt's thread has left since then takes its place.
void TakeLargestPart(DownloadAttempt& attempt) {
    ResumePoint& resume = attempt.resume;
    if (resume.nBytes > 0 && PartSize(attempt.szOwnFile()) != resume.nBytes) resume.Forget();
    AdoptPartialDownload(attempt.szUrl(), attempt.szOwnFile(), &resume);
}

// The libcurl path, then the WinHTTP path of the same type; 1 on success, else 0. The attempt
// starts in its libcurl phase. Each try continues what the tries before it left of the package.
LONG Download(DownloadAttempt& attempt, WinHttpWrapper& wrapper) {
    // libcurl is given the static proxy of the Internet Explorer settings that are read here,
    // with their bypass list, so that this type reaches the network as WinHTTP does on both paths.
    wchar_t szProxy[kCurlProxyChars] = {};
    std::wstring bypass;
    const wchar_t* pProxy = nullptr;
    if (attempt.nType() == WinHTTP_Download_Type_By_IE_Proxy) {
        ProbeIEProxyConfig(wrapper.Api(), szProxy, kCurlProxyChars, &bypass);
        pProxy = szProxy;
    }
    TakeLargestPart(attempt);
    if (DownloadByHttps(pProxy, bypass, attempt) >= 1) return 1;

    attempt.bCurlPhase = 0;
    TakeLargestPart(attempt);
    return DownloadByType(attempt.nType(), attempt.hWndProgress(), &attempt.bCancel,
                          &attempt.nPercent, &wrapper, attempt.szUrl(), attempt.szOwnFile(),
                          {&attempt.resume, &attempt.gate});
}

}  // namespace

DWORD WINAPI DownloadThread(LPVOID pParam) {
    DownloadAttemptRef attempt(static_cast<DownloadAttempt*>(pParam));
    DebugTrace(L"Start DownloadThread");
    WinHttpWrapper* pWrapper = g_pWinHttpWrapper.load();
    const LONG nResult = pWrapper != nullptr ? Download(*attempt.get(), *pWrapper) : 0;
    attempt->nResult = nResult;
    // A failed download leaves its part of the package for a later try, or nothing; the file is
    // closed and this thread writes it no more. A finished one is the launcher's to take, unless
    // the launcher no longer waits for it.
    if (nResult != 1) OfferPartialDownload(attempt->szOwnFile(), attempt->szUrl(), attempt->resume);
    if (!attempt->Finish() && nResult == 1) attempt->DeleteOwnFile();
    return 0;
}

HANDLE StartDownloadThread(DownloadAttempt* pAttempt) {
    pAttempt->AddRef();
    HANDLE hThread = CreateThread(nullptr, 0, DownloadThread, pAttempt, 0, nullptr);
    if (hThread == nullptr) pAttempt->Release();
    return hThread;
}

void SetHttpsDownloadFunction(HttpsDownloadFunction function) { g_httpsDownload.store(function); }

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
        attempt.gate.Close();
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
    // The package is whole: no part of it is kept for a later try, nor taken from a late thread.
    DiscardPartialDownloads();
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
    OpenPartialDownloads();

    DownloadAttemptRef attempt(DownloadAttempt::Create(szUrl, szSaveFile, hWndProgress, nType));
    if (!attempt) return param->nResult;
    const ScopedHandle thread(StartDownloadThread(attempt.get()));
    if (!thread.valid()) return param->nResult;

    WatchAttempt(param, *attempt.get());
    SleepFor(kAfterAttemptMs);
    return TakeOutcome(param, *attempt.get(), szSaveFile);
}

void RemoveAbandonedAttemptFiles() {
    DiscardPartialDownloads();
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

int DownloadByType(DWORD nType, HWND hWndProgress, const std::atomic<LONG>* pbCancel,
                   std::atomic<LONG>* pnPercent, WinHttpWrapper* pWrapper, const wchar_t* szUrl,
                   const wchar_t* szSaveFile, const DownloadCallContext& context) {
    if (pWrapper == nullptr) return 0;
    const auto Download = [&](DWORD nSessionType, const wchar_t* szUserName,
                              const wchar_t* szPassword) {
        return pWrapper->SafeDownloadFile(szUrl, szSaveFile, hWndProgress, pbCancel, nSessionType,
                                          szUserName, szPassword, pnPercent, context) == 1
                   ? 1
                   : 0;
    };
    switch (nType) {
        case WinHTTP_Download_Type_Auto:
            if (Download(WinHTTP_Download_Type_Direct_Connect, nullptr, nullptr) == 1) return 1;
            // A cancelled attempt stops here instead of starting a second download.
            if (pbCancel != nullptr && pbCancel->load() != 0) return 0;
            return Download(WinHTTP_Download_Type_By_IE_Proxy, nullptr, nullptr);
        case WinHTTP_Download_Type_Direct_Connect:
        case WinHTTP_Download_Type_By_Default_Proxy:
        case WinHTTP_Download_Type_By_IE_Proxy:
            return Download(nType, nullptr, nullptr);
        case WinHTTP_Download_Type_By_User_Config_Proxy:
            return Download(nType, g_configuredProxy.szUserName, g_configuredProxy.szPassword);
        default:
            return 0;
    }
}

void SendProgress(int nTotal, int nReceived, HWND hWndProgress) {
    std::int32_t position = 0;
    if (!ProgressPosition(nTotal, nReceived, &position)) return;
    SendMessageW(hWndProgress, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}
