// WrapperOpen's connection types against the scripted WinHTTP: the session each type asks for,
// the Internet Explorer settings cache and automatic proxy discovery.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>
#include <vector>

#include "download/winhttp_wrapper.h"
#include "download_log_tail.h"
#include "fake_winhttp.h"
#include "test_support.h"

namespace {

using testsupport::DownloadLogTail;
using testsupport::FakeIEConfig;
using testsupport::FakeWinHttp;

constexpr wchar_t kUrl[] = L"http://127.0.0.1/qerv/Setup.dat";
const std::string kAgent(std::begin(szDefaultAgent), std::end(szDefaultAgent) - 1);

struct TypeCase {
    DWORD type;
    DWORD accessType;
    std::optional<std::wstring> proxy;
    std::optional<std::wstring> proxyBypass;
    std::string logLine;
};

class SessionType : public ::testing::TestWithParam<TypeCase> {};

TEST_P(SessionType, OpensTheSessionItsTypeAsksFor) {
    const TypeCase& c = GetParam();
    FakeWinHttp fake;
    WinHttpWrapper wrapper(fake);
    DownloadLogTail log;

    WinHttpHandle session = wrapper.WrapperOpen(c.type, kUrl);
    EXPECT_TRUE(session);
    ASSERT_EQ(fake.opens.size(), 1u);
    EXPECT_EQ(fake.opens[0].agent, szDefaultAgent);
    EXPECT_EQ(fake.opens[0].accessType, c.accessType);
    EXPECT_EQ(fake.opens[0].proxy, c.proxy);
    EXPECT_EQ(fake.opens[0].proxyBypass, c.proxyBypass);
    EXPECT_EQ(fake.opens[0].flags, 0u);
    EXPECT_EQ(log.Lines(), std::vector<std::string>{c.logLine + kAgent});
    EXPECT_EQ(fake.ieConfigReads, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Types, SessionType,
    ::testing::Values(
        TypeCase{WinHTTP_Download_Type_Direct_Connect,
                 WINHTTP_ACCESS_TYPE_NO_PROXY,
                 {},
                 {},
                 "WrapperOpen type WinHTTP_Download_Type_Direct_Connect, szAgent="},
        TypeCase{WinHTTP_Download_Type_By_Default_Proxy,
                 WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                 {},
                 {},
                 "WrapperOpen type WinHTTP_Download_Type_By_Default_Proxy, szAgent="},
        // Nothing fills the configured proxy, so it is an empty host and port 0.
        TypeCase{WinHTTP_Download_Type_By_User_Config_Proxy, WINHTTP_ACCESS_TYPE_NAMED_PROXY,
                 std::wstring(L":0"), std::wstring(L"<local>"),
                 "WrapperOpen type WinHTTP_Download_Type_By_User_Config_Proxy, szAgent="}));

TEST(SessionType, AutoAndUnknownTypesGiveNoSessionAndNoLogLine) {
    for (DWORD type : {WinHTTP_Download_Type_Auto, 5u}) {
        FakeWinHttp fake;
        WinHttpWrapper wrapper(fake);
        DownloadLogTail log;
        EXPECT_FALSE(wrapper.WrapperOpen(type, kUrl));
        EXPECT_TRUE(fake.opens.empty());
        EXPECT_EQ(log.Bytes(), "");
    }
}

const char kIELine[] = "WrapperOpen type WinHTTP_Download_Type_By_IE_Proxy, szAgent=";

FakeIEConfig StaticProxy(BOOL autoDetect) {
    FakeIEConfig config;
    config.autoDetect = autoDetect;
    config.proxy = L"proxy.lan:3128";
    config.proxyBypass = L"<local>";
    return config;
}

TEST(IEProxy, WithoutAStaticProxyThereIsNoSessionEvenWithDiscoveryOn) {
    FakeWinHttp fake;
    FakeIEConfig config;
    config.autoDetect = TRUE;
    config.autoConfigUrl = L"http://wpad/wpad.dat";
    fake.ieConfig = config;
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

    FakeIEConfig config;
    config.proxyBypass = L"*.lan";
    fake.ieConfig = config;
    ASSERT_TRUE(wrapper.LoadIEProxyConfig());
    fake.ieConfig.reset();
    EXPECT_FALSE(wrapper.LoadIEProxyConfig());
    ASSERT_TRUE(wrapper.m_iepcfg);
    EXPECT_STREQ(wrapper.m_iepcfg->lpszProxyBypass, L"*.lan");
}

TEST(IEProxy, StaticProxyWithoutDiscoveryIsUsedAsItIsAndStaysCached) {
    FakeWinHttp fake;
    fake.ieConfig = StaticProxy(FALSE);
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
    EXPECT_EQ(log.Lines(), std::vector<std::string>(2, kIELine + kAgent));
    EXPECT_EQ(fake.OpenHandles(), 0);
}

TEST(IEProxy, FailedDiscoveryAsksTwiceAndKeepsTheStaticProxy) {
    FakeWinHttp fake;
    fake.ieConfig = StaticProxy(TRUE);
    WinHttpWrapper wrapper(fake);
    DownloadLogTail log;

    WinHttpHandle session = wrapper.WrapperOpen(WinHTTP_Download_Type_By_IE_Proxy, kUrl);
    EXPECT_TRUE(session);
    ASSERT_EQ(fake.proxyQueries.size(), 2u);
    EXPECT_EQ(fake.proxyQueries[0].url, kUrl);
    EXPECT_EQ(fake.proxyQueries[0].flags, static_cast<DWORD>(WINHTTP_AUTOPROXY_CONFIG_URL));
    EXPECT_FALSE(fake.proxyQueries[0].autoConfigUrl.has_value());
    EXPECT_TRUE(fake.proxyQueries[0].autoLogon);
    EXPECT_EQ(fake.proxyQueries[1].flags, static_cast<DWORD>(WINHTTP_AUTOPROXY_AUTO_DETECT));
    EXPECT_EQ(fake.proxyQueries[1].autoDetectFlags,
              static_cast<DWORD>(WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A));
    EXPECT_FALSE(fake.proxyQueries[1].autoConfigUrl.has_value());
    EXPECT_TRUE(fake.proxyQueries[1].autoLogon);
    EXPECT_TRUE(fake.options.empty());
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{kIELine + kAgent,
                                                     "WrapperOpen: m_iepcfg.fAutoDetect = TRUE"}));
}

struct DiscoveryCase {
    std::vector<std::optional<std::wstring>> discoveries;
    size_t queries;
};

class Discovery : public ::testing::TestWithParam<DiscoveryCase> {};

TEST_P(Discovery, FoundProxyReplacesTheStaticOne) {
    FakeWinHttp fake;
    FakeIEConfig config = StaticProxy(TRUE);
    config.autoConfigUrl = L"http://wpad.lan/wpad.dat";
    fake.ieConfig = config;
    fake.proxyDiscoveries = GetParam().discoveries;
    WinHttpWrapper wrapper(fake);

    WinHttpHandle session = wrapper.WrapperOpen(WinHTTP_Download_Type_By_IE_Proxy, kUrl);
    ASSERT_TRUE(session);
    ASSERT_EQ(fake.proxyQueries.size(), GetParam().queries);
    EXPECT_EQ(fake.proxyQueries[0].autoConfigUrl, std::wstring(L"http://wpad.lan/wpad.dat"));
    ASSERT_EQ(fake.options.size(), 1u);
    EXPECT_EQ(fake.options[0].option, static_cast<DWORD>(WINHTTP_OPTION_PROXY));
    EXPECT_EQ(fake.options[0].length, sizeof(WINHTTP_PROXY_INFO));
    EXPECT_EQ(fake.options[0].proxy, std::wstring(L"found.lan:8080"));
}

INSTANTIATE_TEST_SUITE_P(
    Requests, Discovery,
    ::testing::Values(DiscoveryCase{{std::wstring(L"found.lan:8080")}, 1},
                      DiscoveryCase{{std::nullopt, std::wstring(L"found.lan:8080")}, 2}));

// Runs ProbeIEProxyConfig with the standard error stream sent to a file, and gives what it wrote.
std::string ProbeOutput(FakeWinHttp& fake) {
    testsupport::TempDir dir;
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
    std::vector<unsigned char> bytes;
    testsupport::ReadBytes(path, &bytes);
    return std::string(bytes.begin(), bytes.end());
}

TEST(ProbeIEProxyConfig, ReportsOnlyAFailedReading) {
    FakeWinHttp fake;
    EXPECT_EQ(ProbeOutput(fake), "Failed to get IE proxy configuration.\r\n");
    fake.ieConfig = StaticProxy(TRUE);
    EXPECT_EQ(ProbeOutput(fake), "");
    EXPECT_EQ(fake.ieConfigReads, 2);
}

}  // namespace
