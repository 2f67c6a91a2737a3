#include "download/download_thread.h"

#include "app/debug_trace.h"
#include "app/shared_state.h"
#include "download/download_by_type.h"
#include "download/https_download.h"
#include "download/ie_proxy_config.h"
#include "download/winhttp_wrapper.h"

namespace {

std::atomic<HttpsDownloadFunction> g_httpsDownload{nullptr};

int DownloadByHttps(const wchar_t* szProxy, DownloadAttempt& attempt) {
    HttpsDownloadFunction download = g_httpsDownload.load();
    if (download == nullptr) download = DownloadURLByHTTPS;
    return download(szProxy, attempt.szUrl(), attempt.szOwnFile(), attempt.hWndProgress(),
                    &attempt.nPercent);
}

// The libcurl path, then the WinHTTP path of the same type; 1 on success, else 0. The attempt
// starts in its libcurl phase.
LONG Download(DownloadAttempt& attempt, WinHttpWrapper& wrapper) {
    // libcurl is given the static proxy of the Internet Explorer settings that are read here, so
    // that this type reaches the network through that proxy on both paths.
    wchar_t szProxy[kCurlProxyChars] = {};
    const wchar_t* pProxy = nullptr;
    if (attempt.nType() == WinHTTP_Download_Type_By_IE_Proxy) {
        ProbeIEProxyConfig(wrapper.Api(), szProxy, kCurlProxyChars);
        pProxy = szProxy;
    }
    if (DownloadByHttps(pProxy, attempt) >= 1) return 1;

    attempt.bCurlPhase = 0;
    return DownloadByType(attempt.nType(), attempt.hWndProgress(), &attempt.bCancel,
                          &attempt.nPercent, &wrapper, attempt.szUrl(), attempt.szOwnFile());
}

}  // namespace

DWORD WINAPI DownloadThread(LPVOID pParam) {
    DownloadAttemptRef attempt(static_cast<DownloadAttempt*>(pParam));
    DebugTrace(L"Start DownloadThread");
    WinHttpWrapper* pWrapper = g_pWinHttpWrapper.load();
    const LONG nResult = pWrapper != nullptr ? Download(*attempt.get(), *pWrapper) : 0;
    attempt->nResult = nResult;
    // A failed download leaves nothing behind. A finished one is the launcher's to take, unless
    // the launcher no longer waits for it.
    if (nResult != 1) attempt->DeleteOwnFile();
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
