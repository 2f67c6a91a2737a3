#pragma once

// The current user's Internet Explorer proxy settings as WinHTTP reads them.
#include <memory>

#include "download/winhttp_api.h"

// Releases a settings record: its strings with GlobalFree (the platform allocated them), then the
// record itself.
struct IEProxyConfigFree {
    void operator()(WINHTTP_CURRENT_USER_IE_PROXY_CONFIG* config) const;
};
using IEProxyConfigPtr = std::unique_ptr<WINHTTP_CURRENT_USER_IE_PROXY_CONFIG, IEProxyConfigFree>;

// A fresh reading of the settings, or null when they cannot be read.
IEProxyConfigPtr ReadIEProxyConfig(WinHttpApi& api);

// Reads the settings and releases them again; a failure is reported on the standard error
// stream as "Failed to get IE proxy configuration.".
void ProbeIEProxyConfig(WinHttpApi& api = RealWinHttpApi());
