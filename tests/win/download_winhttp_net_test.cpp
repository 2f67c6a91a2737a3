// SafeDownloadFile over the real WinHTTP under Wine, against the loopback servers: nginx over
// HTTP and HTTPS (self-signed), the fault server, and a forward proxy that wants credentials.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cwchar>
#include <string>
#include <vector>

#include "download/winhttp_wrapper.h"
#include "download_log_tail.h"
#include "test_support.h"

namespace {

using testsupport::Env;

std::string Pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 13 + i / 509) & 0xFF);
    return bytes;
}

// The fault server's bodies: byte i is (i * 7 + 3) & 0xFF.
std::string FaultBody(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + 3) & 0xFF);
    return bytes;
}

class RealWinHttp : public ::testing::Test {
  protected:
    void SetUp() override {
        if (Env(L"QERV_TEST_HTTP_PORT").empty()) GTEST_SKIP() << "run through with-servers.sh";
    }

    std::wstring Url(const wchar_t* scheme, const wchar_t* portVariable, const std::wstring& path) {
        return std::wstring(scheme) + L"://127.0.0.1:" + Env(portVariable) + path;
    }

    DWORD Fetch(const std::wstring& url, DWORD type = WinHTTP_Download_Type_Direct_Connect,
                const wchar_t* userName = nullptr, const wchar_t* password = nullptr) {
        return wrapper.SafeDownloadFile(url.c_str(), target.c_str(), nullptr, &cancel, type,
                                        userName, password, &percent);
    }

    std::string Target() const { return testsupport::FileText(target); }

    WinHttpWrapper wrapper;
    testsupport::TempDir dir;
    std::wstring target = dir.File(L"Setup.dat");
    std::atomic<LONG> cancel{0};
    std::atomic<LONG> percent{0};
};

TEST_F(RealWinHttp, DirectDownloadOverHttpAndHttpsIsByteExact) {
    const std::wstring www = Env(L"QERV_TEST_WWW_WIN");
    // From a small package to the size of a real installer, which stays in memory until written.
    for (const size_t size : {size_t{1024}, size_t{300000}, size_t{10} << 20, size_t{100} << 20}) {
        const std::string content = Pattern(size);
        ASSERT_TRUE(testsupport::WriteBytes(
            www + L"\\package.bin", std::vector<unsigned char>(content.begin(), content.end())));
        for (const std::wstring& url :
             {Url(L"http", L"QERV_TEST_HTTP_PORT", L"/package.bin"),
              Url(L"https", L"QERV_TEST_HTTPS_PORT", L"/package.bin?v=1")}) {
            SCOPED_TRACE(std::string(url.begin(), url.end()) + " " + std::to_string(size));
            percent = 0;
            EXPECT_EQ(Fetch(url), 1u);
            EXPECT_EQ(wrapper.m_dwStatus.load(), WinHTTP_Download_Status_Completed);
            EXPECT_EQ(percent.load(), 100);
            EXPECT_TRUE(Target() == content) << "the downloaded file differs";
        }
    }
}

TEST_F(RealWinHttp, MissingFileFailsWithItsStatusInTheLog) {
    testsupport::DownloadLogTail log;
    EXPECT_EQ(Fetch(Url(L"http", L"QERV_TEST_HTTP_PORT", L"/absent.bin")), 0u);
    EXPECT_EQ(wrapper.m_dwStatus.load(), WinHTTP_Download_Status_Error);
    const std::vector<std::string> lines = log.Lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "SafeDownloadFile: authentication failed, dwLastStatus = 404");
    EXPECT_FALSE(testsupport::FileExists(target));
}

struct FaultCase {
    const wchar_t* path;
    DWORD result;
    size_t fileBytes;  // SIZE_MAX: no file
};

class FaultServer : public RealWinHttp, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(FaultServer, MisbehavingServerEndsAsExpected) {
    const FaultCase& c = GetParam();
    EXPECT_EQ(Fetch(Url(L"http", L"QERV_TEST_FAULT_HTTP_PORT", c.path)), c.result);
    EXPECT_EQ(wrapper.m_dwStatus.load(),
              c.result == 1 ? WinHTTP_Download_Status_Completed : WinHTTP_Download_Status_Error);
    if (c.fileBytes == SIZE_MAX) {
        EXPECT_FALSE(testsupport::FileExists(target));
    } else {
        EXPECT_TRUE(Target() == FaultBody(c.fileBytes)) << "the downloaded file differs";
    }
}

INSTANTIATE_TEST_SUITE_P(Answers, FaultServer,
                         ::testing::Values(FaultCase{L"/nolength/5000", 0, SIZE_MAX},
                                           FaultCase{L"/zerolength", 0, SIZE_MAX},
                                           FaultCase{L"/surplus/5000/700", 1, 5000},
                                           FaultCase{L"/status/500", 0, SIZE_MAX}));

TEST_F(RealWinHttp, EarlyCloseFailsAndLeavesNoMoreThanWasSent) {
    EXPECT_EQ(Fetch(Url(L"http", L"QERV_TEST_FAULT_HTTP_PORT", L"/close/3000/9000")), 0u);
    EXPECT_EQ(wrapper.m_dwStatus.load(), WinHTTP_Download_Status_Error);
    const std::string kept = Target();
    EXPECT_LE(kept.size(), 3000u);
    EXPECT_TRUE(kept == FaultBody(kept.size())) << "the kept bytes differ";
}

TEST_F(RealWinHttp, ServerChallengeIsAnsweredWithTheCredentials) {
    EXPECT_EQ(Fetch(Url(L"http", L"QERV_TEST_FAULT_HTTP_PORT", L"/auth/4000"),
                    WinHTTP_Download_Type_Direct_Connect, L"qerv", L"secret"),
              1u);
    EXPECT_TRUE(Target() == FaultBody(4000)) << "the downloaded file differs";
}

// Type 4 through the forward proxy that wants Basic credentials: without a user name the
// challenge is answered once, and the second 407 ends the download.
TEST_F(RealWinHttp, ConfiguredProxyChallengeWithoutUserEndsAfterTheSecond407) {
    struct ProxyGuard {
        ~ProxyGuard() { g_configuredProxy = {}; }
    } guard;
    wcscpy(g_configuredProxy.szHost, L"127.0.0.1");
    g_configuredProxy.nPort = _wtoi(Env(L"QERV_TEST_AUTH_PROXY_PORT").c_str());

    testsupport::DownloadLogTail log;
    EXPECT_EQ(Fetch(Url(L"http", L"QERV_TEST_FAULT_HTTP_PORT", L"/ok/2000"),
                    WinHTTP_Download_Type_By_User_Config_Proxy),
              0u);
    EXPECT_EQ(wrapper.m_dwStatus.load(), WinHTTP_Download_Status_Error);
    const std::vector<std::string> lines = log.Lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "SafeDownloadFile: authentication failed, dwLastStatus = 407");
}

}  // namespace
