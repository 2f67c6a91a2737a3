#pragma once

// The current user's Internet Explorer proxy settings as WinHTTP reads them.
#include <cstddef>
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
// stream as "Failed to get IE proxy configuration.". When szProxy is given it receives the static
// proxy list, or the empty text when there is none or it does not fit in nProxyChars.
void ProbeIEProxyConfig(WinHttpApi& api = RealWinHttpApi(), wchar_t* szProxy = nullptr,
                        size_t nProxyChars = 0);
