// SafeDownloadFile over Wine's real WinHTTP against the loopback servers: nginx over HTTP and
// HTTPS (self-signed), the fault server, and a forward proxy that wants credentials.
#include <gtest/gtest.h>

#include <cwchar>

#include "download_scenario.h"

namespace {

using namespace testsupport;

// The fault server's bodies: byte i is (i * 7 + 3) & 0xFF.
std::string FaultBody(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + 3) & 0xFF);
    return bytes;
}

std::wstring Fault(const std::wstring& path) {
    return LoopbackUrl(L"http", L"QERV_TEST_FAULT_HTTP_PORT", path);
}

// Whole files from a small package to the size of a real installer (which stays in memory until
// written), and what a missing file, a misbehaving server and the challenges of a server and of a
// proxy leave; the fault server's paths say what it does. cut: a download cut short may leave
// only the start of file.
TEST(RealWinHttp, ServerAnswersEndAsExpected) {
    if (Env(L"QERV_TEST_HTTP_PORT").empty()) GTEST_SKIP() << "run through with-servers.sh";
    WinHttpWrapper wrapper;
    const TempDir dir;
    const std::wstring target = dir.File(L"Setup.dat");
    std::atomic<LONG> cancel{0}, percent{0};
    const auto check = [&](const std::wstring& url, DWORD type, const wchar_t* user, DWORD result,
                           const std::string& file, bool cut, const std::string& lastLine = "") {
        SCOPED_TRACE(std::string(url.begin(), url.end()));
        const DownloadLogTail log;
        percent = 0;
        DeleteFileW(target.c_str());
        EXPECT_EQ(wrapper.SafeDownloadFile(url.c_str(), target.c_str(), nullptr, &cancel, type,
                                           user, user ? L"secret" : nullptr, &percent),
                  result);
        EXPECT_EQ(wrapper.m_dwStatus.load(),
                  result == 1 ? WinHTTP_Download_Status_Completed : WinHTTP_Download_Status_Error);
        if (result == 1) {
            EXPECT_EQ(percent.load(), 100);
        }
        const std::string kept = FileText(target);
        EXPECT_TRUE(cut ? kept.size() <= file.size() && file.rfind(kept, 0) == 0 : kept == file)
            << "the downloaded file differs";
        const std::vector<std::string> lines = log.Lines();
        if (!lastLine.empty()) {
            EXPECT_EQ(lines.empty() ? "" : lines.back(), lastLine);
        }
    };
    struct ProxyGuard {
        ~ProxyGuard() { g_configuredProxy = {}; }
    } guard;
    g_configuredProxy = {L"127.0.0.1", _wtoi(Env(L"QERV_TEST_AUTH_PROXY_PORT").c_str()), L"", L""};
    const std::string none = "(missing)";
    for (const size_t size : {size_t{1024}, size_t{300000}, size_t{10} << 20, size_t{100} << 20}) {
        SCOPED_TRACE(size);
        const std::string content = Pattern(size);
        ASSERT_TRUE(WriteBytes(Env(L"QERV_TEST_WWW_WIN") + L"\\package.bin",
                               {content.begin(), content.end()}));
        check(LoopbackUrl(L"http", L"QERV_TEST_HTTP_PORT", L"/package.bin"), 1, nullptr, 1, content,
              false);
        check(LoopbackUrl(L"https", L"QERV_TEST_HTTPS_PORT", L"/package.bin?v=1"), 1, nullptr, 1,
              content, false);
    }
    check(LoopbackUrl(L"http", L"QERV_TEST_HTTP_PORT", L"/absent.bin"), 1, nullptr, 0, none, false,
          Failed(404));
    check(Fault(L"/nolength/5000"), 1, nullptr, 0, none, false);
    check(Fault(L"/zerolength"), 1, nullptr, 0, none, false);
    check(Fault(L"/surplus/5000/700"), 1, nullptr, 1, FaultBody(5000), false);
    check(Fault(L"/status/500"), 1, nullptr, 0, none, false);
    // A connection closed early fails and keeps no more than was sent.
    check(Fault(L"/close/3000/9000"), 1, nullptr, 0, FaultBody(3000), true);
    check(Fault(L"/auth/4000"), 1, L"qerv", 1, FaultBody(4000), false);
    // No package is larger than the decoder accepts: a longer announced body is refused before
    // any file is made or memory taken for it; one at the limit is received.
    check(Fault(L"/close/1000/209715201"), 1, nullptr, 0, none, false,
          "SafeDownloadFile: WinHttpQueryHeaders dwDownloadSize = 209715201");
    check(Fault(L"/close/1000/209715200"), 1, nullptr, 0, FaultBody(1000), true);
    // Type 4 without a user name: the proxy's challenge is answered once, and the second 407
    // ends the download.
    check(Fault(L"/ok/2000"), 4, nullptr, 0, none, false, Failed(407));
}

}  // namespace
