#pragma once

// The one download object: the WinHTTP download, its session opening, and the status that the
// status line shows while it runs.
#include <windows.h>

#include <atomic>
#include <cstddef>
#include <memory>

#include "download/chunk_list.h"
#include "download/winhttp_api.h"
#include "download/winhttp_download_codes.h"

// The current user's Internet Explorer proxy settings as WinHTTP reads them.

// Releases a settings record: its strings with GlobalFree (the platform allocated them), then the
// record itself.
struct IEProxyConfigFree {
    void operator()(WINHTTP_CURRENT_USER_IE_PROXY_CONFIG* config) const;
};
using IEProxyConfigPtr = std::unique_ptr<WINHTTP_CURRENT_USER_IE_PROXY_CONFIG, IEProxyConfigFree>;

// A fresh reading of the settings, or null when they cannot be read.
IEProxyConfigPtr ReadIEProxyConfig(WinHttpApi& api);

// Reads the settings and releases them again; a failure is reported on the standard error
// stream as "Failed to get IE proxy configuration.". When szProxy is given it receives the static
// proxy list, or the empty text when there is none or it does not fit in nProxyChars.
void ProbeIEProxyConfig(WinHttpApi& api = RealWinHttpApi(), wchar_t* szProxy = nullptr,
                        size_t nProxyChars = 0);

// The configured proxy of connection type 4, process-wide. Nothing in the program fills it, so
// it stays empty and 0; the workflow never asks for type 4.
constexpr int kConfiguredProxyChars = 260;

struct ConfiguredProxy {
    wchar_t szHost[kConfiguredProxyChars];
    int nPort;
    wchar_t szUserName[kConfiguredProxyChars];
    wchar_t szPassword[kConfiguredProxyChars];
};

extern ConfiguredProxy g_configuredProxy;

// The user agent of every session.
constexpr wchar_t szDefaultAgent[] =
    L"Mozilla/5.0 (Windows; U; Windows NT 6.1; en-US; rv:1.9.2) Gecko/20100115 Firefox/3.6";

class WinHttpWrapper {
  public:
    explicit WinHttpWrapper(WinHttpApi& api = RealWinHttpApi());
    WinHttpWrapper(const WinHttpWrapper&) = delete;
    WinHttpWrapper& operator=(const WinHttpWrapper&) = delete;

    // Fetches szPathUrl into szPathSaveFile over the connection type dwType. Returns 1 when the
    // whole body announced by Content-Length was received and written, else 0; the detailed
    // outcome stays in m_dwStatus. Every step goes to the download trace log. The optional
    // progress bar, cancel flag (read once per chunk) and percentage are the caller's.
    DWORD SafeDownloadFile(const wchar_t* szPathUrl, const wchar_t* szPathSaveFile,
                           HWND hWndProgress, const std::atomic<LONG>* pbCancel, DWORD dwType,
                           const wchar_t* szUserName, const wchar_t* szPassword,
                           std::atomic<LONG>* pnPercent);

    // A synchronous session for connection type dwType, or an empty handle. szUrl (normalised)
    // is used only for automatic proxy discovery.
    WinHttpHandle WrapperOpen(DWORD dwType, const wchar_t* szUrl);

    // Reads the Internet Explorer settings into m_iepcfg; a failed reading keeps the cache.
    bool LoadIEProxyConfig();

    // The WinHTTP operations that this object's downloads go through.
    WinHttpApi& Api() const { return m_api; }

    IEProxyConfigPtr m_iepcfg;
    std::atomic<DWORD> m_dwStatus{WinHTTP_Download_Status_Not_Started};
    std::atomic<DWORD> m_dwType{0};
    int m_nResolveTimeout = 0;
    int m_nConnectTimeout = 0;  // non-zero: all four timeouts are applied to each session
    int m_nSendTimeout = 0;
    int m_nReceiveTimeout = 0;
    DWORD m_bAppend = 0;

  private:
    // What a download reports as each chunk arrives.
    struct ProgressTargets {
        HWND hWndProgress;
        const std::atomic<LONG>* pbCancel;
        std::atomic<LONG>* pnPercent;
    };

    WinHttpHandle OpenWithIEProxy(const wchar_t* szUrl);
    // The request and authentication loop; true once the server answered 200 or 206. A request
    // that WinHTTP asks to resend is sent again at most kMaxResends times, and not once the
    // attempt is cancelled.
    bool SendWithAuthentication(HINTERNET hRequest, bool bSecure, const wchar_t* szUserName,
                                const wchar_t* szPassword, const std::atomic<LONG>* pbCancel);
    // Reads the body into chunks; false (status and log line set) when the download must stop.
    bool ReceiveBody(HINTERNET hRequest, HANDLE hFile, DWORD dwTotal, const ProgressTargets& to,
                     ChunkList* pChunks, DWORD* pdwReceived);
    // Writes and releases the chunks in order; false at the first write that fails or falls short.
    static bool WriteChunks(HANDLE hFile, ChunkList* pChunks);

    WinHttpApi& m_api;
};
