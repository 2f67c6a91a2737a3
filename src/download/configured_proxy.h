#pragma once

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
