// SafeDownloadFile over Wine's real WinHTTP against the loopback servers: nginx over HTTP and
// HTTPS (self-signed), the fault server, and a forward proxy that wants credentials.
#include <gtest/gtest.h>

#include <atomic>
#include <cwchar>
#include <string>
#include <vector>

#include "download_scenario.h"

namespace {

using namespace testsupport;

// The fault server's bodies: byte i is (i * 7 + 3) & 0xFF.
std::string FaultBody(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + 3) & 0xFF);
    return bytes;
}

std::wstring Url(const wchar_t* scheme, const wchar_t* portVariable, const std::wstring& path) {
    return std::wstring(scheme) + L"://127.0.0.1:" + Env(portVariable) + path;
}

std::wstring Fault(const std::wstring& path) {
    return Url(L"http", L"QERV_TEST_FAULT_HTTP_PORT", path);
}

std::string LastLine(const DownloadLogTail& log) {
    const std::vector<std::string> lines = log.Lines();
    return lines.empty() ? "" : lines.back();
}

class RealWinHttp : public ::testing::Test {
  protected:
    void SetUp() override {
        if (Env(L"QERV_TEST_HTTP_PORT").empty()) GTEST_SKIP() << "run through with-servers.sh";
    }
    DWORD Fetch(const std::wstring& url, DWORD type = WinHTTP_Download_Type_Direct_Connect,
                const wchar_t* userName = nullptr, const wchar_t* password = nullptr) {
        percent = 0;
        DeleteFileW(target.c_str());
        return wrapper.SafeDownloadFile(url.c_str(), target.c_str(), nullptr, &cancel, type,
                                        userName, password, &percent);
    }

    WinHttpWrapper wrapper;
    TempDir dir;
    std::wstring target = dir.File(L"Setup.dat");
    std::atomic<LONG> cancel{0};
    std::atomic<LONG> percent{0};
    DownloadLogTail log;
};

TEST_F(RealWinHttp, DirectDownloadOverHttpAndHttpsIsByteExact) {
    // From a small package to the size of a real installer, which stays in memory until written.
    for (const size_t size : {size_t{1024}, size_t{300000}, size_t{10} << 20, size_t{100} << 20}) {
        std::string content(size, '\0');
        for (size_t i = 0; i < size; ++i) content[i] = static_cast<char>(i * 13 + i / 509);
        ASSERT_TRUE(WriteBytes(Env(L"QERV_TEST_WWW_WIN") + L"\\package.bin",
                               {content.begin(), content.end()}));
        for (const std::wstring& url :
             {Url(L"http", L"QERV_TEST_HTTP_PORT", L"/package.bin"),
              Url(L"https", L"QERV_TEST_HTTPS_PORT", L"/package.bin?v=1")}) {
            SCOPED_TRACE(std::string(url.begin(), url.end()) + " " + std::to_string(size));
            EXPECT_EQ(Fetch(url), 1u);
            EXPECT_EQ(wrapper.m_dwStatus.load(), WinHTTP_Download_Status_Completed);
            EXPECT_EQ(percent.load(), 100);
            EXPECT_TRUE(FileText(target) == content) << "the downloaded file differs";
        }
    }
}

// What a missing file and a misbehaving server leave; the fault server's paths say what it does.
TEST_F(RealWinHttp, ServerAnswersEndAsExpected) {
    const struct {
        std::wstring url;
        DWORD result;
        std::string file;
        std::string lastLine;  // "": not checked
    } rows[] = {
        {Url(L"http", L"QERV_TEST_HTTP_PORT", L"/absent.bin"), 0, "(missing)",
         "SafeDownloadFile: authentication failed, dwLastStatus = 404"},
        {Fault(L"/nolength/5000"), 0, "(missing)", ""},
        {Fault(L"/zerolength"), 0, "(missing)", ""},
        {Fault(L"/surplus/5000/700"), 1, FaultBody(5000), ""},
        {Fault(L"/status/500"), 0, "(missing)", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.url.begin(), row.url.end()));
        const DownloadLogTail rowLog;
        EXPECT_EQ(Fetch(row.url), row.result);
        EXPECT_EQ(wrapper.m_dwStatus.load(), row.result == 1 ? WinHTTP_Download_Status_Completed
                                                             : WinHTTP_Download_Status_Error);
        EXPECT_TRUE(FileText(target) == row.file) << "the downloaded file differs";
        if (!row.lastLine.empty()) {
            EXPECT_EQ(LastLine(rowLog), row.lastLine);
        }
    }
}

TEST_F(RealWinHttp, EarlyCloseFailsAndLeavesNoMoreThanWasSent) {
    EXPECT_EQ(Fetch(Fault(L"/close/3000/9000")), 0u);
    EXPECT_EQ(wrapper.m_dwStatus.load(), WinHTTP_Download_Status_Error);
    const std::string kept = FileText(target);
    EXPECT_LE(kept.size(), 3000u);
    EXPECT_TRUE(kept == FaultBody(kept.size())) << "the kept bytes differ";
}

TEST_F(RealWinHttp, ServerChallengeIsAnsweredWithTheCredentials) {
    EXPECT_EQ(Fetch(Fault(L"/auth/4000"), WinHTTP_Download_Type_Direct_Connect, L"qerv", L"secret"),
              1u);
    EXPECT_TRUE(FileText(target) == FaultBody(4000)) << "the downloaded file differs";
}

// Type 4 through the forward proxy that wants Basic credentials: without a user name the
// challenge is answered once, and the second 407 ends the download.
TEST_F(RealWinHttp, ConfiguredProxyChallengeWithoutUserEndsAfterTheSecond407) {
    struct ProxyGuard {
        ~ProxyGuard() { g_configuredProxy = {}; }
    } guard;
    wcscpy(g_configuredProxy.szHost, L"127.0.0.1");
    g_configuredProxy.nPort = _wtoi(Env(L"QERV_TEST_AUTH_PROXY_PORT").c_str());
    EXPECT_EQ(Fetch(Fault(L"/ok/2000"), WinHTTP_Download_Type_By_User_Config_Proxy), 0u);
    EXPECT_EQ(wrapper.m_dwStatus.load(), WinHTTP_Download_Status_Error);
    EXPECT_EQ(LastLine(log), "SafeDownloadFile: authentication failed, dwLastStatus = 407");
}

}  // namespace
