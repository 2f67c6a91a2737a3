#pragma once

// What the download attempt tests against the loopback servers (scripts/with-servers.sh) share.
#include <windows.h>

#include <string>
#include <vector>

#include "app/shared_state.h"
#include "download/winhttp_wrapper.h"
#include "download_log_tail.h"
#include "test_support.h"

namespace downloadtest {

inline bool ServersRunning() { return !testsupport::Env(L"QERV_TEST_HTTP_PORT").empty(); }

// Wine's WinHTTP sends a proxy the path alone, instead of the whole address, when the proxy and
// the server have the same host name; the proxies are named 127.0.0.1, so a server reached
// through one of them is named by this loopback name instead.
constexpr wchar_t kProxiedHost[] = L"localhost";

// scheme://host:PORT/path, the port read from the environment variable.
inline std::wstring LoopbackUrl(const wchar_t* scheme, const wchar_t* portVariable,
                                const std::wstring& path, const wchar_t* host = L"127.0.0.1") {
    return std::wstring(scheme) + L"://" + host + L":" + testsupport::Env(portVariable) + path;
}

// "127.0.0.1:PORT" of a loopback proxy, as the proxy settings name it.
inline std::string LoopbackProxy(const wchar_t* portVariable) {
    const std::wstring port = testsupport::Env(portVariable);
    return "127.0.0.1:" + std::string(port.begin(), port.end());
}

// Puts a file into nginx's document root.
inline bool Serve(const std::wstring& name, const std::string& content) {
    return testsupport::WriteBytes(testsupport::Env(L"QERV_TEST_WWW_WIN") + L"\\" + name,
                                   std::vector<unsigned char>(content.begin(), content.end()));
}

// A fresh download object, so that no proxy settings are cached from an earlier test. It is
// never freed, as in the program: a thread that the watchdog gave up on may still use it.
inline void PublishFreshDownloadObject() { g_pWinHttpWrapper.store(new WinHttpWrapper()); }

// The lines that the download trace log gained, kept when they start with one of the prefixes.
inline std::vector<std::string> LogLinesStarting(const testsupport::DownloadLogTail& log,
                                                 const std::vector<std::string>& prefixes) {
    std::vector<std::string> kept;
    for (const std::string& line : log.Lines()) {
        for (const std::string& prefix : prefixes) {
            if (line.rfind(prefix, 0) == 0) {
                kept.push_back(line);
                break;
            }
        }
    }
    return kept;
}

inline std::string Package(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 31 + i / 257) & 0xFF);
    return bytes;
}

}  // namespace downloadtest
