#include "download/ie_proxy_config.h"

#include <cstdio>
#include <cwchar>
#include <initializer_list>
#include <new>

void IEProxyConfigFree::operator()(WINHTTP_CURRENT_USER_IE_PROXY_CONFIG* config) const {
    for (LPWSTR text : {config->lpszAutoConfigUrl, config->lpszProxy, config->lpszProxyBypass}) {
        if (text != nullptr) GlobalFree(text);
    }
    delete config;
}

IEProxyConfigPtr ReadIEProxyConfig(WinHttpApi& api) {
    IEProxyConfigPtr config(new (std::nothrow) WINHTTP_CURRENT_USER_IE_PROXY_CONFIG{});
    if (!config || !api.WinHttpGetIEProxyConfigForCurrentUser(config.get())) {
        return IEProxyConfigPtr();
    }
    return config;
}

void ProbeIEProxyConfig(WinHttpApi& api, wchar_t* szProxy, size_t nProxyChars) {
    if (szProxy != nullptr && nProxyChars > 0) szProxy[0] = L'\0';
    const IEProxyConfigPtr config = ReadIEProxyConfig(api);
    if (!config) {
        fputws(L"Failed to get IE proxy configuration.\n", stderr);
        return;
    }
    if (szProxy == nullptr || config->lpszProxy == nullptr) return;
    // A cut list could name another host: a list that does not fit is not passed on.
    const size_t nLength = wcsnlen(config->lpszProxy, nProxyChars);
    if (nLength < nProxyChars) wmemcpy(szProxy, config->lpszProxy, nLength + 1);
}
