// WrapperOpen's connection types against the scripted WinHTTP: the session each type asks for,
// the Internet Explorer settings cache and automatic proxy discovery.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "download_scenario.h"

namespace {

using namespace testsupport;

constexpr wchar_t kUrl[] = L"http://127.0.0.1/qerv/Setup.dat";
const std::string kAgent(std::begin(szDefaultAgent), std::end(szDefaultAgent) - 1);
const std::string kIELine = "WrapperOpen type WinHTTP_Download_Type_By_IE_Proxy, szAgent=" + kAgent;
const std::optional<std::wstring> kNone;

TEST(SessionType, OpensTheSessionItsTypeAsksFor) {
    const struct {
        DWORD type;
        std::optional<DWORD> accessType;  // none: no session and no log line
        std::optional<std::wstring> proxy, proxyBypass;
        const char* logName;
    } rows[] = {
        {WinHTTP_Download_Type_Direct_Connect, WINHTTP_ACCESS_TYPE_NO_PROXY, kNone, kNone,
         "Direct_Connect"},
        {WinHTTP_Download_Type_By_Default_Proxy, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, kNone, kNone,
         "By_Default_Proxy"},
        // Nothing fills the configured proxy, so it is an empty host and port 0.
        {WinHTTP_Download_Type_By_User_Config_Proxy, WINHTTP_ACCESS_TYPE_NAMED_PROXY, L":0",
         L"<local>", "By_User_Config_Proxy"},
        {WinHTTP_Download_Type_Auto, std::nullopt, kNone, kNone, ""},
        {5, std::nullopt, kNone, kNone, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.type);
        FakeWinHttp fake;
        WinHttpWrapper wrapper(fake);
        DownloadLogTail log;
        EXPECT_EQ(static_cast<bool>(wrapper.WrapperOpen(row.type, kUrl)),
                  row.accessType.has_value());
        EXPECT_EQ(fake.ieConfigReads, 0);
        if (!row.accessType) {
            EXPECT_TRUE(fake.opens.empty());
            EXPECT_EQ(log.Bytes(), "");
            continue;
        }
        ASSERT_EQ(fake.opens.size(), 1u);
        EXPECT_EQ(fake.opens[0].agent, szDefaultAgent);
        EXPECT_EQ(fake.opens[0].accessType, *row.accessType);
        EXPECT_EQ(fake.opens[0].proxy, row.proxy);
        EXPECT_EQ(fake.opens[0].proxyBypass, row.proxyBypass);
        EXPECT_EQ(fake.opens[0].flags, 0u);
        EXPECT_EQ(log.Lines(),
                  std::vector<std::string>{std::string("WrapperOpen type WinHTTP_Download_Type_") +
                                           row.logName + ", szAgent=" + kAgent});
    }
}

FakeIEConfig Settings(BOOL autoDetect, std::optional<std::wstring> proxy = L"proxy.lan:3128",
                      std::optional<std::wstring> autoConfigUrl = {}) {
    FakeIEConfig config;
    config.autoDetect = autoDetect;
    config.autoConfigUrl = autoConfigUrl;
    config.proxy = proxy;
    config.proxyBypass = L"<local>";
    return config;
}

TEST(IEProxy, WithoutAStaticProxyThereIsNoSessionEvenWithDiscoveryOn) {
    FakeWinHttp fake;
    fake.ieConfig = Settings(TRUE, std::nullopt, L"http://wpad/wpad.dat");
    WinHttpWrapper wrapper(fake);
    EXPECT_FALSE(wrapper.WrapperOpen(WinHTTP_Download_Type_By_IE_Proxy, kUrl));
    EXPECT_TRUE(fake.opens.empty());
    EXPECT_TRUE(fake.proxyQueries.empty());
    ASSERT_TRUE(wrapper.m_iepcfg);
    EXPECT_EQ(wrapper.m_iepcfg->lpszProxy, nullptr);
    // A cache without a static proxy is read again on the next type-3 session.
    EXPECT_FALSE(wrapper.WrapperOpen(WinHTTP_Download_Type_By_IE_Proxy, kUrl));
    EXPECT_EQ(fake.ieConfigReads, 2);
}

TEST(IEProxy, UnreadableSettingsGiveNoSessionAndKeepTheCache) {
    FakeWinHttp fake;
    WinHttpWrapper wrapper(fake);
    EXPECT_FALSE(wrapper.WrapperOpen(WinHTTP_Download_Type_By_IE_Proxy, kUrl));
    EXPECT_FALSE(wrapper.m_iepcfg);
    fake.ieConfig = Settings(FALSE, std::nullopt);
    fake.ieConfig->proxyBypass = L"*.lan";
    ASSERT_TRUE(wrapper.LoadIEProxyConfig());
    fake.ieConfig.reset();
    EXPECT_FALSE(wrapper.LoadIEProxyConfig());
    ASSERT_TRUE(wrapper.m_iepcfg);
    EXPECT_STREQ(wrapper.m_iepcfg->lpszProxyBypass, L"*.lan");
}

TEST(IEProxy, StaticProxyWithoutDiscoveryIsUsedAsItIsAndStaysCached) {
    FakeWinHttp fake;
    fake.ieConfig = Settings(FALSE);
    WinHttpWrapper wrapper(fake);
    DownloadLogTail log;
    EXPECT_TRUE(wrapper.WrapperOpen(WinHTTP_Download_Type_By_IE_Proxy, kUrl));
    EXPECT_TRUE(wrapper.WrapperOpen(WinHTTP_Download_Type_By_IE_Proxy, kUrl));
    EXPECT_EQ(fake.ieConfigReads, 1);
    ASSERT_EQ(fake.opens.size(), 2u);
    EXPECT_EQ(fake.opens[0].accessType, static_cast<DWORD>(WINHTTP_ACCESS_TYPE_NAMED_PROXY));
    EXPECT_EQ(fake.opens[0].proxy, std::wstring(L"proxy.lan:3128"));
    EXPECT_EQ(fake.opens[0].proxyBypass, std::wstring(L"<local>"));
    EXPECT_TRUE(fake.proxyQueries.empty());
    EXPECT_TRUE(fake.options.empty());
    EXPECT_EQ(log.Lines(), std::vector<std::string>(2, kIELine));
    EXPECT_EQ(fake.OpenHandles(), 0);
}

TEST(IEProxy, FailedDiscoveryAsksTwiceAndKeepsTheStaticProxy) {
    FakeWinHttp fake;
    fake.ieConfig = Settings(TRUE);
    WinHttpWrapper wrapper(fake);
    DownloadLogTail log;
    EXPECT_TRUE(wrapper.WrapperOpen(WinHTTP_Download_Type_By_IE_Proxy, kUrl));
    ASSERT_EQ(fake.proxyQueries.size(), 2u);
    EXPECT_EQ(fake.proxyQueries[0].url, kUrl);
    EXPECT_EQ(fake.proxyQueries[0].flags, static_cast<DWORD>(WINHTTP_AUTOPROXY_CONFIG_URL));
    EXPECT_EQ(fake.proxyQueries[1].flags, static_cast<DWORD>(WINHTTP_AUTOPROXY_AUTO_DETECT));
    EXPECT_EQ(fake.proxyQueries[1].autoDetectFlags,
              static_cast<DWORD>(WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A));
    for (const FakeProxyQuery& query : fake.proxyQueries) {
        EXPECT_FALSE(query.autoConfigUrl.has_value());
        EXPECT_TRUE(query.autoLogon);
    }
    EXPECT_TRUE(fake.options.empty());
    EXPECT_EQ(log.Lines(),
              (std::vector<std::string>{kIELine, "WrapperOpen: m_iepcfg.fAutoDetect = TRUE"}));
}

// A proxy found by the script address or, failing that, by detection replaces the static one.
TEST(IEProxy, DiscoveredProxyReplacesTheStaticOne) {
    const std::optional<std::wstring> found = L"found.lan:8080";
    for (const auto& discoveries : {std::vector<std::optional<std::wstring>>{found},
                                    std::vector<std::optional<std::wstring>>{kNone, found}}) {
        SCOPED_TRACE(discoveries.size());
        FakeWinHttp fake;
        fake.ieConfig = Settings(TRUE, L"proxy.lan:3128", L"http://wpad.lan/wpad.dat");
        fake.proxyDiscoveries = discoveries;
        WinHttpWrapper wrapper(fake);
        ASSERT_TRUE(wrapper.WrapperOpen(WinHTTP_Download_Type_By_IE_Proxy, kUrl));
        ASSERT_EQ(fake.proxyQueries.size(), discoveries.size());
        EXPECT_EQ(fake.proxyQueries[0].autoConfigUrl, std::wstring(L"http://wpad.lan/wpad.dat"));
        ASSERT_EQ(fake.options.size(), 1u);
        EXPECT_EQ(fake.options[0].option, static_cast<DWORD>(WINHTTP_OPTION_PROXY));
        EXPECT_EQ(fake.options[0].length, sizeof(WINHTTP_PROXY_INFO));
        EXPECT_EQ(fake.options[0].proxy, found);
    }
}

// What ProbeIEProxyConfig writes to the standard error stream.
std::string ProbeOutput(FakeWinHttp& fake) {
    TempDir dir;
    const std::wstring path = dir.File(L"stderr.txt");
    fflush(stderr);
    const int saved = _dup(_fileno(stderr));
    FILE* capture = _wfopen(path.c_str(), L"w");
    if (saved < 0 || capture == nullptr) return "capture failed";
    _dup2(_fileno(capture), _fileno(stderr));
    ProbeIEProxyConfig(fake);
    fflush(stderr);
    _dup2(saved, _fileno(stderr));
    _close(saved);
    fclose(capture);
    return FileText(path);
}

TEST(ProbeIEProxyConfig, ReportsOnlyAFailedReading) {
    FakeWinHttp fake;
    EXPECT_EQ(ProbeOutput(fake), "Failed to get IE proxy configuration.\r\n");
    fake.ieConfig = Settings(TRUE);
    EXPECT_EQ(ProbeOutput(fake), "");
    EXPECT_EQ(fake.ieConfigReads, 2);
}

}  // namespace
