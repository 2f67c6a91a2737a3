#include "download/winhttp_wrapper.h"

WinHttpWrapper::WinHttpWrapper(WinHttpApi& api) : m_api(api) {}

bool WinHttpWrapper::LoadIEProxyConfig() {
    IEProxyConfigPtr config = ReadIEProxyConfig(m_api);
    if (!config) return false;
    m_iepcfg = std::move(config);
    return true;
}
