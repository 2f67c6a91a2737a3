#include "download/ie_proxy_config.h"

#include <cstdio>
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

void ProbeIEProxyConfig(WinHttpApi& api) {
    if (!ReadIEProxyConfig(api)) fputws(L"Failed to get IE proxy configuration.\n", stderr);
}
