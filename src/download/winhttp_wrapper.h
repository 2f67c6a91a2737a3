#pragma once

// The one download object: the WinHTTP download, its session opening, and the status that the
// status line shows while it runs.
#include <windows.h>

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>

#include "download/resume_point.h"
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
// proxy list, or the empty text when there is none or it does not fit in nProxyChars; when
// pBypass is given it receives the bypass list (empty when there is none).
void ProbeIEProxyConfig(WinHttpApi& api = RealWinHttpApi(), wchar_t* szProxy = nullptr,
                        size_t nProxyChars = 0, std::wstring* pBypass = nullptr);

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

// Lets a download call write what the status line shows only while its attempt is watched: once
// the launcher has given up on the attempt and closed its gate, a thread that wakes up late
// changes nothing that the next attempt shows.
class StatusGate {
  public:
    // Runs write unless the gate is closed; Close waits for a write under way.
    template <typename Write>
    void Pass(Write write) {
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (m_open) write();
    }
    void Close() {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_open = false;
    }
    bool IsOpen() {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return m_open;
    }

  private:
    std::mutex m_mutex;
    bool m_open = true;
};

// What a download call shares with the attempt that makes it, beyond its own arguments.
struct DownloadCallContext {
    // The package's part already in the file, which the call asks only the rest for and keeps up
    // to date as it writes; null: the file is made afresh and nothing is kept.
    ResumePoint* pResume = nullptr;
    // The attempt's gate for the status; null: always written.
    StatusGate* pGate = nullptr;
};

class WinHttpWrapper {
  public:
    explicit WinHttpWrapper(WinHttpApi& api = RealWinHttpApi());
    WinHttpWrapper(const WinHttpWrapper&) = delete;
    WinHttpWrapper& operator=(const WinHttpWrapper&) = delete;

    // Fetches szPathUrl into szPathSaveFile over the connection type dwType, writing each piece
    // of the body as it arrives. Returns 1 when the whole package was received and written, else
    // 0; the detailed outcome stays in m_dwStatus. Every step goes to the download trace log. The
    // optional progress bar, cancel flag (looked at before each network step and after each
    // read) and percentage are the caller's. With a resume point in context that holds part of
    // the package, only the rest is asked for.
    DWORD SafeDownloadFile(const wchar_t* szPathUrl, const wchar_t* szPathSaveFile,
                           HWND hWndProgress, const std::atomic<LONG>* pbCancel, DWORD dwType,
                           const wchar_t* szUserName, const wchar_t* szPassword,
                           std::atomic<LONG>* pnPercent, const DownloadCallContext& context = {});

    // A synchronous session for connection type dwType, or an empty handle. szUrl (normalised)
    // is used only for automatic proxy discovery.
    WinHttpHandle WrapperOpen(DWORD dwType, const wchar_t* szUrl);

    // Reads the Internet Explorer settings into m_iepcfg; a failed reading keeps the cache.
    bool LoadIEProxyConfig();

    // The WinHTTP operations that this object's downloads go through.
    WinHttpApi& Api() const { return m_api; }

    // A thread given up on may still open a session while the next attempt opens one: the cached
    // settings are only touched under m_proxyLock.
    IEProxyConfigPtr m_iepcfg;
    std::atomic<DWORD> m_dwStatus{WinHTTP_Download_Status_Not_Started};
    std::atomic<DWORD> m_dwType{0};
    int m_nResolveTimeout = 0;
    int m_nConnectTimeout = 0;  // non-zero: all four timeouts are applied to each session
    int m_nSendTimeout = 0;
    int m_nReceiveTimeout = 0;
    DWORD m_bAppend = 0;

  private:
    // The cached settings' parts that a session needs, copied under the lock.
    struct IEProxySettings {
        std::wstring proxy, bypass, autoConfigUrl;
        bool bHasBypass = false, bHasAutoConfigUrl = false, bAutoDetect = false;
    };
    bool CachedIEProxy(IEProxySettings* pSettings);
    WinHttpHandle OpenWithIEProxy(const wchar_t* szUrl);

    std::mutex m_proxyLock;
    WinHttpApi& m_api;
};
