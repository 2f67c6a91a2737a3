// The HTTPS download through libcurl, and the ANSI texts that it hands to libcurl.

// curl.h brings winsock2.h, which must come before windows.h.
#include <curl/curl.h>

#include "download/https_download.h"

#include "download/curl_options.h"

#include <climits>
#include <cwchar>
#include <new>
#include <string>

#include "base/debug_trace.h"
#include "download/curl_transfer.h"
#include "download/send_progress.h"
#include "download/winhttp_rules.h"
#include "system/old_windows.h"
#include "system/package_format.h"

namespace {

// libcurl asks for at least CURL_ERROR_SIZE (256) bytes.
constexpr int kErrorBufferBytes = 260;
static_assert(kErrorBufferBytes >= CURL_ERROR_SIZE, "libcurl's error text must fit");

// The watchdog does not look at the libcurl phase: a transfer that crawls below this floor for
// this long, or a connect that takes longer than its limit, ends as a failure instead of holding
// the setup. Tests lower the floor to compress time.
constexpr long kCrawlBytesPerSecond = 1024;
constexpr long kCrawlSeconds = 60;
constexpr long kConnectSeconds = 30;
std::atomic<long> g_crawlBytesPerSecond{kCrawlBytesPerSecond};
std::atomic<long> g_crawlSeconds{kCrawlSeconds};

struct CurlEasyCleanup {
    void operator()(CURL* pCurl) const { curl_easy_cleanup(pCurl); }
};
using CurlEasy = std::unique_ptr<CURL, CurlEasyCleanup>;

// Redirects are followed this often at most, and to HTTPS only.
constexpr long kMaxRedirects = 10;

// Traces ANSI text as one wide line.
void TraceAnsi(const char* szText) {
    wchar_t szWide[kHttpsUrlBytes] = {};
    if (MultiByteToWideChar(CP_ACP, 0, szText, -1, szWide, kHttpsUrlBytes) == 0) {
        szWide[0] = L'\0';
    }
    DebugTrace(L"%s", szWide);
}

// A byte count of libcurl as an integer, truncated, and clamped where an int cannot hold it.
int ToProgressCount(double dBytes) {
    if (!(dBytes >= 1.0)) return 0;
    return dBytes < static_cast<double>(INT_MAX) ? static_cast<int>(dBytes) : INT_MAX;
}

// The proxy of the setting, with the setting's bypass list applied to the address's host as
// WinHTTP applies it.
void SetProxy(CurlOptions& options, const wchar_t* szProxy, const wchar_t* szProxyBypass,
              const char* szUrl) {
    const std::wstring curlProxy = ChooseCurlProxy(szProxy);
    if (curlProxy.empty()) return;
    // libcurl keeps its own copy, so the ANSI text goes as soon as it has been set.
    const std::unique_ptr<char[]> szAnsiProxy = ToAnsiString(curlProxy.c_str());
    if (!szAnsiProxy) return;
    options.Set(CURLOPT_PROXY, szAnsiProxy.get());
    const std::string noProxy = CurlNoProxyList(szProxyBypass, UrlHost(szUrl));
    if (!noProxy.empty()) options.Set(CURLOPT_NOPROXY, noProxy.c_str());
}

}  // namespace

int CurlProgressCallback(void* clientp, double dDownloadTotal, double dDownloaded,
                         double /*dUploadTotal*/, double /*dUploaded*/) {
    if (ToProgressCount(dDownloadTotal) == 0) return 0;
    auto* pTarget = static_cast<CurlProgressTarget*>(clientp);
    if (!pTarget || !pTarget->hWndProgress || !pTarget->bPackage) return 0;
    // libcurl counts a resumed transfer alone; the bar shows the whole package.
    const int nTotal = ToProgressCount(pTarget->dBase + dDownloadTotal);
    const int nReceived = ToProgressCount(pTarget->dBase + dDownloaded);
    // libcurl calls this for every piece it receives: the bar is sent only what changes it, each
    // send being a round trip to the dialog's thread.
    std::int32_t nPosition = 0;
    if (!ProgressPosition(nTotal, nReceived, &nPosition) || nPosition == pTarget->nShown) return 0;
    pTarget->nShown = nPosition;
    SendProgress(nTotal, nReceived, pTarget->hWndProgress);
    return 0;
}

int DownloadURLByHTTPS(const wchar_t* szProxy, const wchar_t* szUrl, const wchar_t* szSaveFile,
                       HWND hWndProgress, std::atomic<LONG>* pnPercent,
                       const HttpsDownloadOptions& httpsOptions) {
    OutputDebugStringA("vao ham DownloadURLByHTTPS");
    char szHttpsUrl[kHttpsUrlBytes] = {};
    if (!MakeHttpsURL(szUrl, szHttpsUrl) || !EscapeURLSpaces(szHttpsUrl)) return -1;
    TraceAnsi(szHttpsUrl);

    // Asked on every call and never undone: later calls find it done.
    curl_global_init(CURL_GLOBAL_ALL);
    char szError[kErrorBufferBytes] = {};
    CurlProgressTarget progress = {hWndProgress, 0, -1};
    bool bOk = false;
    if (CurlEasy curl{curl_easy_init()}) {
        CURL* pCurl = curl.get();
        CurlOptions options(pCurl);
        options.Set(CURLOPT_URL, szHttpsUrl).Set(CURLOPT_VERBOSE, 1L).Set(CURLOPT_NOPROGRESS, 0L);
        // This progress function takes its byte counts as doubles, which the newer one does not.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
        options.Set(CURLOPT_PROGRESSFUNCTION, CurlProgressCallback);
#pragma GCC diagnostic pop
        if (pnPercent) pnPercent->store(0);
        options.Set(CURLOPT_PROGRESSDATA, static_cast<void*>(&progress))
            .Set(CURLOPT_FAILONERROR, 1L)
            .Set(CURLOPT_FOLLOWLOCATION, 1L)
            .Set(CURLOPT_MAXREDIRS, kMaxRedirects)
            .Set(CURLOPT_PROTOCOLS_STR, "https")
            .Set(CURLOPT_REDIR_PROTOCOLS_STR, "https")
            // An announced length above the largest package is refused before the body comes.
            .Set(CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kPackageMaxBytes))
            .Set(CURLOPT_ERRORBUFFER, szError)
            .Set(CURLOPT_CONNECTTIMEOUT, kConnectSeconds)
            .Set(CURLOPT_LOW_SPEED_LIMIT, g_crawlBytesPerSecond.load())
            .Set(CURLOPT_LOW_SPEED_TIME, g_crawlSeconds.load());
        // The old systems' TLS cannot check today's certificate chains.
        if (IsOldWindows()) options.Set(CURLOPT_SSL_VERIFYPEER, 0L);
        SetProxy(options, szProxy, httpsOptions.szProxyBypass, szHttpsUrl);
        bOk = options.AllTaken() &&
              RunCurlTransfer(pCurl, szSaveFile, httpsOptions.pResume, &progress, pnPercent);
    }

    if (bOk) {
        OutputDebugStringA("Success,End DownloadURLByHTTPS");
        return 1;
    }
    DebugTrace(L"Download curl failed");
    TraceAnsi(szError);
    return -1;
}

void SetCurlCrawlFloor(long bytesPerSecond, long seconds) {
    const bool bDefault = bytesPerSecond <= 0 || seconds <= 0;
    g_crawlBytesPerSecond = bDefault ? kCrawlBytesPerSecond : bytesPerSecond;
    g_crawlSeconds = bDefault ? kCrawlSeconds : seconds;
}

std::unique_ptr<char[]> ToAnsiString(const wchar_t* szText) {
    if (!szText) return nullptr;
    const std::size_t nWide = std::wcslen(szText);
    if (nWide > INT_MAX) return nullptr;
    const int nWideChars = static_cast<int>(nWide);
    const int nLength =
        WideCharToMultiByte(CP_ACP, 0, szText, nWideChars, nullptr, 0, nullptr, nullptr);
    if (nLength < 1) return nullptr;
    std::unique_ptr<char[]> szAnsi(new (std::nothrow) char[nLength + 1]);
    if (!szAnsi) return nullptr;
    if (WideCharToMultiByte(CP_ACP, 0, szText, nWideChars, szAnsi.get(), nLength, nullptr,
                            nullptr) != nLength) {
        return nullptr;
    }
    szAnsi[nLength] = '\0';
    return szAnsi;
}

int MakeHttpsURL(const wchar_t* szUrl, char* szHttpsUrl) {
    if (!szUrl || !szHttpsUrl) return 0;
    const std::unique_ptr<char[]> szAnsi = ToAnsiString(szUrl);
    if (!szAnsi) return 0;
    return ForceHttpsScheme(szAnsi.get(), szHttpsUrl);
}
