#include "download/download_thread.h"

#include <atomic>
#include <string>

#include "base/debug_trace.h"
#include "download/download_by_type.h"
#include "download/https_download.h"
#include "download/partial_download.h"

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
    WinHttpWrapper* pWrapper = attempt->pWrapper();
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
