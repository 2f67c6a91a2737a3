// Download attempts through the loopback forward proxies, named by the proxy settings that Wine's
// WinHTTP reads: the user's Internet Explorer settings for type 3, on both the libcurl and the
// WinHTTP path, and WinHTTP's default proxy for type 2. Each kind is run once through the open
// proxy and once through the one that wants credentials, whose 407 proves that the proxy was
// really asked.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "download/download_file.h"
#include "download_proxy_settings.h"
#include "download_thread_net_rig.h"
#include "download_thread_rig.h"

namespace {

using downloadtest::LoopbackProxy;
using downloadtest::LoopbackUrl;

enum class Settings { IE, Default };

struct ProxyCase {
    const char* name;
    Settings settings;
    const wchar_t* proxyPort;
    const wchar_t* scheme;  // https reaches nginx's HTTPS port; http its plain port
    int result;
    bool curlSucceeds;
    std::wstring curlErrorHas;     // part of libcurl's error text when it fails ("": not checked)
    std::vector<std::string> log;  // the WinHTTP path's key log lines, in order
};

const std::string kAgent =
    "Mozilla/5.0 (Windows; U; Windows NT 6.1; en-US; rv:1.9.2) Gecko/20100115 Firefox/3.6";
const std::string kOpenIE = "WrapperOpen type WinHTTP_Download_Type_By_IE_Proxy, szAgent=" + kAgent;
const std::string kOpenDefault =
    "WrapperOpen type WinHTTP_Download_Type_By_Default_Proxy, szAgent=" + kAgent;
const std::string kOk = "SafeDownloadFile: session connected, request opened, status 200 [OK]";
const std::string k407 = "SafeDownloadFile: authentication failed, dwLastStatus = 407";

class ThroughProxy : public ::testing::TestWithParam<ProxyCase> {
  protected:
    void SetUp() override {
        if (!downloadtest::ServersRunning()) GTEST_SKIP() << "run through with-servers.sh";
        downloadtest::PublishFreshDownloadObject();
        ASSERT_TRUE(downloadtest::Serve(L"proxied.bin", kContent));
    }

    const std::string kContent = downloadtest::Package(200000);
    downloadtest::TraceLog traces;
    testsupport::TempDir dir;
    std::wstring target = dir.File(L"Setup.dat");
    DownloadThreadParam record;
};

TEST_P(ThroughProxy, AttemptReachesTheServerThroughTheConfiguredProxy) {
    const ProxyCase& c = GetParam();
    const std::string proxy = LoopbackProxy(c.proxyPort);
    std::optional<downloadtest::SeededIEProxy> ieProxy;
    std::optional<downloadtest::SeededDefaultProxy> defaultProxy;
    DWORD type = WinHTTP_Download_Type_By_IE_Proxy;
    if (c.settings == Settings::IE) {
        ASSERT_TRUE(ieProxy.emplace(proxy).seeded());
    } else {
        ASSERT_TRUE(defaultProxy.emplace(proxy).seeded());
        type = WinHTTP_Download_Type_By_Default_Proxy;
    }
    const std::wstring port =
        std::wstring(c.scheme) == L"https" ? L"QERV_TEST_HTTPS_PORT" : L"QERV_TEST_HTTP_PORT";
    const std::wstring url =
        LoopbackUrl(c.scheme, port.c_str(), L"/proxied.bin", downloadtest::kProxiedHost);

    testsupport::DownloadLogTail log;
    EXPECT_EQ(DownloadFile(&record, url.c_str(), target.c_str(), nullptr, type), c.result);

    EXPECT_EQ(traces.Count(L"download url ok"), c.curlSucceeds ? 1 : 0);
    EXPECT_EQ(traces.Count(L"Download curl failed"), c.curlSucceeds ? 0 : 1);
    if (!c.curlErrorHas.empty()) {
        const std::vector<std::wstring> lines = traces.Lines();
        bool found = false;
        for (const std::wstring& line : lines) found |= line.find(c.curlErrorHas) != line.npos;
        EXPECT_TRUE(found) << "libcurl's error text names "
                           << testing::PrintToString(c.curlErrorHas);
    }
    std::vector<std::string> logged = downloadtest::LogLinesStarting(
        log, {"WrapperOpen type", "SafeDownloadFile: session connected",
              "SafeDownloadFile: authentication failed"});
    if (logged.size() > c.log.size()) logged.resize(c.log.size());
    EXPECT_EQ(logged, c.log);
    if (c.result == 1) {
        std::vector<unsigned char> bytes;
        ASSERT_TRUE(testsupport::ReadBytes(target, &bytes));
        EXPECT_TRUE(std::string(bytes.begin(), bytes.end()) == kContent) << "the file differs";
    } else {
        EXPECT_FALSE(testsupport::FileExists(target));
    }
}

constexpr wchar_t kOpenProxy[] = L"QERV_TEST_PROXY_PORT";
constexpr wchar_t kAuthProxy[] = L"QERV_TEST_AUTH_PROXY_PORT";

INSTANTIATE_TEST_SUITE_P(
    Settings, ThroughProxy,
    ::testing::Values(
        // libcurl is given the static proxy of the IE settings and tunnels through it ...
        ProxyCase{"IEProxyCarriesLibcurl", Settings::IE, kOpenProxy, L"https", 1, true, L"", {}},
        // ... which the proxy that wants credentials refuses; WinHTTP then tries that proxy too.
        ProxyCase{"IEProxyRefusesLibcurl",
                  Settings::IE,
                  kAuthProxy,
                  L"https",
                  0,
                  false,
                  L"407",
                  {kOpenIE}},
        // Over plain http libcurl's forced https fails, and WinHTTP goes through the IE proxy.
        ProxyCase{"IEProxyCarriesWinHttp",
                  Settings::IE,
                  kOpenProxy,
                  L"http",
                  1,
                  false,
                  L"",
                  {kOpenIE, kOk}},
        ProxyCase{"IEProxyChallengesWinHttp",
                  Settings::IE,
                  kAuthProxy,
                  L"http",
                  0,
                  false,
                  L"407",
                  {kOpenIE, k407}},
        // The default proxy is WinHTTP's alone: libcurl goes direct and fails on plain http.
        ProxyCase{"DefaultProxyCarriesWinHttp",
                  Settings::Default,
                  kOpenProxy,
                  L"http",
                  1,
                  false,
                  L"",
                  {kOpenDefault, kOk}},
        ProxyCase{"DefaultProxyChallengesWinHttp",
                  Settings::Default,
                  kAuthProxy,
                  L"http",
                  0,
                  false,
                  L"",
                  {kOpenDefault, k407}}),
    [](const ::testing::TestParamInfo<ProxyCase>& info) { return info.param.name; });

}  // namespace
