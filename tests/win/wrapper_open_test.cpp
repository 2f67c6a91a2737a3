// WrapperOpen's connection types against the scripted WinHTTP: the session each type asks for,
// the Internet Explorer settings with their cache and automatic proxy discovery.
#include <gtest/gtest.h>

#include "download_scenario.h"

namespace {

using namespace testsupport;

constexpr wchar_t kUrl[] = L"http://h/f";
const std::optional<std::wstring> kFound = L"found.lan:8080";
const std::wstring kOpenIE = L"Open 3 proxy.lan:3128 <local>";
const std::wstring kWpad = L"http://wpad.lan/wpad.dat";

FakeIEConfig Settings(BOOL autoDetect, std::optional<std::wstring> proxy = L"proxy.lan:3128",
                      std::optional<std::wstring> autoConfigUrl = {}) {
    return {autoDetect, autoConfigUrl, proxy, L"<local>"};
}

std::wstring Query(const std::wstring& options) { return L"ProxyForUrl http://h/f " + options; }

TEST(WrapperOpen, OpensTheSessionOfItsType) {
    const std::string ie = Opened("By_IE_Proxy");
    const std::string detect = "WrapperOpen: m_iepcfg.fAutoDetect = TRUE";
    const auto check = [](const char* name, DWORD type, std::optional<FakeIEConfig> settings,
                          std::vector<std::optional<std::wstring>> discoveries, bool session,
                          const std::vector<std::string>& logged,
                          const std::vector<std::wstring>& calls) {
        SCOPED_TRACE(name);
        FakeWinHttp fake;
        fake.ieConfig = settings;
        fake.proxyDiscoveries = discoveries;
        WinHttpWrapper wrapper(fake);
        const DownloadLogTail log;
        EXPECT_EQ(static_cast<bool>(wrapper.WrapperOpen(type, kUrl)), session);
        EXPECT_EQ(fake.calls, calls);
        EXPECT_EQ(log.Lines(), logged);
        EXPECT_EQ(fake.OpenHandles(), 0);
    };
    check("Direct", 1, {}, {}, true, {Opened("Direct_Connect")}, {L"Open 1 - -"});
    check("DefaultProxy", 2, {}, {}, true, {Opened("By_Default_Proxy")}, {L"Open 0 - -"});
    // Nothing fills the configured proxy, so it is an empty host and port 0.
    check("ConfiguredProxy", 4, {}, {}, true, {Opened("By_User_Config_Proxy")},
          {L"Open 3 :0 <local>"});
    check("Auto", 0, {}, {}, false, {}, {});
    check("Unknown", 5, {}, {}, false, {}, {});
    check("UnreadableSettings", 3, {}, {}, false, {ie}, {L"IEConfig"});
    check("NoStaticProxyEvenWithDiscovery", 3, Settings(TRUE, {}, kWpad), {}, false, {ie},
          {L"IEConfig"});
    check("StaticProxy", 3, Settings(FALSE), {}, true, {ie}, {L"IEConfig", kOpenIE});
    // A failed discovery, by script and then by detection, keeps the static proxy.
    check("DiscoveryFails", 3, Settings(TRUE), {}, true, {ie, detect},
          {L"IEConfig", kOpenIE, Query(L"2 0 -"), Query(L"1 3 -")});
    check("ScriptFindsAProxy", 3, Settings(TRUE, L"proxy.lan:3128", kWpad), {kFound}, true,
          {ie, detect},
          {L"IEConfig", kOpenIE, Query(L"2 0 " + kWpad), L"SetOption 38 found.lan:8080"});
    check("DetectionFindsAProxy", 3, Settings(TRUE, L"proxy.lan:3128", kWpad), {{}, kFound}, true,
          {ie, detect},
          {L"IEConfig", kOpenIE, Query(L"2 0 " + kWpad), Query(L"1 3 -"),
           L"SetOption 38 found.lan:8080"});
}

// The settings are read once while they name a static proxy and again while they do not; a
// failed reading keeps what was read before.
TEST(WrapperOpen, IEProxySettingsAreCachedOnlyWithAStaticProxy) {
    FakeWinHttp fake;
    WinHttpWrapper wrapper(fake);
    fake.ieConfig = Settings(TRUE, std::nullopt, kWpad);
    EXPECT_FALSE(wrapper.WrapperOpen(WinHTTP_Download_Type_By_IE_Proxy, kUrl));
    EXPECT_FALSE(wrapper.WrapperOpen(WinHTTP_Download_Type_By_IE_Proxy, kUrl));
    fake.ieConfig = Settings(FALSE);
    EXPECT_TRUE(wrapper.WrapperOpen(WinHTTP_Download_Type_By_IE_Proxy, kUrl));
    fake.ieConfig.reset();
    EXPECT_TRUE(wrapper.WrapperOpen(WinHTTP_Download_Type_By_IE_Proxy, kUrl));
    EXPECT_FALSE(wrapper.LoadIEProxyConfig());
    EXPECT_TRUE(wrapper.WrapperOpen(WinHTTP_Download_Type_By_IE_Proxy, kUrl));
    EXPECT_EQ(Starting(fake.calls, {L"IEConfig"}).size(), 4u);
    EXPECT_EQ(Starting(fake.calls, {L"Open"}), std::vector<std::wstring>(3, kOpenIE));
}

TEST(ProbeIEProxyConfig, ReportsOnlyAFailedReading) {
    FakeWinHttp fake;
    for (const bool readable : {false, true}) {
        if (readable) fake.ieConfig = Settings(TRUE);
        ::testing::internal::CaptureStderr();
        ProbeIEProxyConfig(fake);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(),
                  readable ? "" : "Failed to get IE proxy configuration.\n");
    }
    EXPECT_EQ(fake.calls, std::vector<std::wstring>(2, L"IEConfig"));
}

}  // namespace
