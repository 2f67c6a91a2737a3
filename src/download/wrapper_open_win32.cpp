// The download object and the opening of its WinHTTP session for each connection type: the
// Internet Explorer settings with their discovery, the default proxy, and the configured proxy.
#include "download/winhttp_wrapper.h"

#include "download/winhttp_lib_log.h"

#include <cstdio>
#include <cwchar>
#include <initializer_list>

WinHttpWrapper::WinHttpWrapper(WinHttpApi& api) : m_api(api) {}

bool WinHttpWrapper::LoadIEProxyConfig() {
    IEProxyConfigPtr config = ReadIEProxyConfig(m_api);
    if (!config) return false;
    const std::lock_guard<std::mutex> lock(m_proxyLock);
    m_iepcfg = std::move(config);
    return true;
}

void IEProxyConfigFree::operator()(WINHTTP_CURRENT_USER_IE_PROXY_CONFIG* config) const {
    for (LPWSTR text : {config->lpszAutoConfigUrl, config->lpszProxy, config->lpszProxyBypass}) {
        if (text != nullptr) GlobalFree(text);
    }
    delete config;
}

IEProxyConfigPtr ReadIEProxyConfig(WinHttpApi& api) {
    IEProxyConfigPtr config(new WINHTTP_CURRENT_USER_IE_PROXY_CONFIG{});
    if (!api.WinHttpGetIEProxyConfigForCurrentUser(config.get())) {
        return IEProxyConfigPtr();
    }
    return config;
}

void ProbeIEProxyConfig(WinHttpApi& api, wchar_t* szProxy, size_t nProxyChars,
                        std::wstring* pBypass) {
    if (szProxy != nullptr && nProxyChars > 0) szProxy[0] = L'\0';
    if (pBypass != nullptr) pBypass->clear();
    const IEProxyConfigPtr config = ReadIEProxyConfig(api);
    if (!config) {
        fputws(L"Failed to get IE proxy configuration.\n", stderr);
        return;
    }
    if (pBypass != nullptr && config->lpszProxyBypass != nullptr) {
        pBypass->assign(config->lpszProxyBypass);
    }
    if (szProxy == nullptr || config->lpszProxy == nullptr) return;
    // A cut list could name another host: a list that does not fit is not passed on.
    const size_t nLength = wcsnlen(config->lpszProxy, nProxyChars);
    if (nLength < nProxyChars) wmemcpy(szProxy, config->lpszProxy, nLength + 1);
}

ConfiguredProxy g_configuredProxy = {};

namespace {

// Frees the strings that automatic discovery allocated, whatever became of the session.
class ProxyInfoOwner {
  public:
    ProxyInfoOwner() = default;
    ProxyInfoOwner(const ProxyInfoOwner&) = delete;
    ProxyInfoOwner& operator=(const ProxyInfoOwner&) = delete;
    ~ProxyInfoOwner() {
        if (info.lpszProxy != nullptr) GlobalFree(info.lpszProxy);
        if (info.lpszProxyBypass != nullptr) GlobalFree(info.lpszProxyBypass);
    }
    WINHTTP_PROXY_INFO info = {};
};

// "host:port" of the configured proxy, cut rather than overrun.
constexpr int kProxyTextChars = kConfiguredProxyChars + 16;

}  // namespace

WinHttpHandle WinHttpWrapper::WrapperOpen(DWORD dwType, const wchar_t* szUrl) {
    switch (dwType) {
        case WinHTTP_Download_Type_Direct_Connect:
            WinHTTPLibLog(L"WrapperOpen type WinHTTP_Download_Type_Direct_Connect, szAgent=%s",
                          szDefaultAgent);
            return WinHttpHandle(
                m_api, m_api.WinHttpOpen(szDefaultAgent, WINHTTP_ACCESS_TYPE_NO_PROXY,
                                         WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
        case WinHTTP_Download_Type_By_Default_Proxy:
            WinHTTPLibLog(L"WrapperOpen type WinHTTP_Download_Type_By_Default_Proxy, szAgent=%s",
                          szDefaultAgent);
            return WinHttpHandle(
                m_api, m_api.WinHttpOpen(szDefaultAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                         WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
        case WinHTTP_Download_Type_By_IE_Proxy:
            WinHTTPLibLog(L"WrapperOpen type WinHTTP_Download_Type_By_IE_Proxy, szAgent=%s",
                          szDefaultAgent);
            return OpenWithIEProxy(szUrl);
        case WinHTTP_Download_Type_By_User_Config_Proxy: {
            WinHTTPLibLog(
                L"WrapperOpen type WinHTTP_Download_Type_By_User_Config_Proxy, szAgent=%s",
                szDefaultAgent);
            wchar_t szProxy[kProxyTextChars];
            _snwprintf(szProxy, kProxyTextChars - 1, L"%s:%d", g_configuredProxy.szHost,
                       g_configuredProxy.nPort);
            szProxy[kProxyTextChars - 1] = L'\0';
            return WinHttpHandle(
                m_api, m_api.WinHttpOpen(szDefaultAgent, WINHTTP_ACCESS_TYPE_NAMED_PROXY, szProxy,
                                         L"<local>", 0));
        }
        default:
            return WinHttpHandle();
    }
}

bool WinHttpWrapper::CachedIEProxy(IEProxySettings* pSettings) {
    // Settings without a static proxy list never give a session, even with discovery on.
    const auto hasProxy = [this] { return m_iepcfg && m_iepcfg->lpszProxy != nullptr; };
    bool bCached = false;
    {
        const std::lock_guard<std::mutex> lock(m_proxyLock);
        bCached = hasProxy();
    }
    // Read afresh while the cache names no static proxy; a failed reading keeps the cache.
    if (!bCached && !LoadIEProxyConfig()) return false;
    const std::lock_guard<std::mutex> lock(m_proxyLock);
    if (!hasProxy()) return false;
    pSettings->proxy = m_iepcfg->lpszProxy;
    pSettings->bHasBypass = m_iepcfg->lpszProxyBypass != nullptr;
    if (pSettings->bHasBypass) pSettings->bypass = m_iepcfg->lpszProxyBypass;
    pSettings->bHasAutoConfigUrl = m_iepcfg->lpszAutoConfigUrl != nullptr;
    if (pSettings->bHasAutoConfigUrl) pSettings->autoConfigUrl = m_iepcfg->lpszAutoConfigUrl;
    pSettings->bAutoDetect = m_iepcfg->fAutoDetect != FALSE;
    return true;
}

WinHttpHandle WinHttpWrapper::OpenWithIEProxy(const wchar_t* szUrl) {
    IEProxySettings settings;
    if (!CachedIEProxy(&settings)) return WinHttpHandle();
    WinHttpHandle session(
        m_api,
        m_api.WinHttpOpen(szDefaultAgent, WINHTTP_ACCESS_TYPE_NAMED_PROXY, settings.proxy.c_str(),
                          settings.bHasBypass ? settings.bypass.c_str() : nullptr, 0));
    if (!session || !settings.bAutoDetect) return session;

    WinHTTPLibLogLine(L"WrapperOpen: m_iepcfg.fAutoDetect = TRUE");
    WINHTTP_AUTOPROXY_OPTIONS options = {};
    options.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
    options.lpszAutoConfigUrl =
        settings.bHasAutoConfigUrl ? settings.autoConfigUrl.c_str() : nullptr;
    options.fAutoLogonIfChallenged = TRUE;
    ProxyInfoOwner proxy;
    if (!m_api.WinHttpGetProxyForUrl(session.get(), szUrl, &options, &proxy.info)) {
        options = {};
        options.dwFlags = WINHTTP_AUTOPROXY_AUTO_DETECT;
        options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
        options.fAutoLogonIfChallenged = TRUE;
        // A failed discovery is no failure: the session keeps the static proxy.
        if (!m_api.WinHttpGetProxyForUrl(session.get(), szUrl, &options, &proxy.info)) {
            return session;
        }
    }
    m_api.WinHttpSetOption(session.get(), WINHTTP_OPTION_PROXY, &proxy.info, sizeof(proxy.info));
    return session;
}
