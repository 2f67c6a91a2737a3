// SafeDownloadFile over Wine's real WinHTTP against the loopback servers: nginx over HTTP and
// HTTPS (self-signed), the fault server, and a forward proxy that wants credentials.
#include <gtest/gtest.h>

#include <cwchar>
#include <thread>

#include "download_scenario.h"
#include "fault_server.h"

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

// Whole files from a small package to the size of a real installer, and what a missing file, a
// misbehaving server and the challenges of a server and of a proxy leave; the fault server's paths
// say what it does. cut: a download cut short may leave only the start of file.
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

constexpr std::uint32_t kMiB = 1 << 20;

// The tries of one attempt share a resume point: each continues what the last one left, where
// the server answers for the same package; otherwise the package comes whole. ranges: the Range
// of each request the server got.
TEST(RealWinHttp, ResumesWhereTheLastTryStoppedAndOnlyThere) {
    if (Env(L"QERV_TEST_FAULT_HTTP_PORT").empty()) GTEST_SKIP() << "run through with-servers.sh";
    WinHttpWrapper wrapper;
    const TempDir dir;
    const std::wstring target = dir.File(L"Setup.dat");
    std::atomic<LONG> cancel{0}, percent{0};
    const auto check = [&](const std::string& id, const std::string& faults, std::uint32_t total,
                           int tries, unsigned version, const std::vector<std::string>& ranges) {
        SCOPED_TRACE(id);
        const std::string path = "/ranged/" + std::to_string(total) + "?id=" + id + "&" + faults;
        const std::wstring url = FaultUrl(L"http", std::wstring(path.begin(), path.end()));
        ResumePoint point;
        DWORD result = 0;
        int made = 0;
        while (result != 1 && made < tries + 2) {
            result = wrapper.SafeDownloadFile(url.c_str(), target.c_str(), nullptr, &cancel,
                                              WinHTTP_Download_Type_Direct_Connect, nullptr,
                                              nullptr, &percent, {&point, nullptr});
            ++made;
        }
        EXPECT_EQ(result, 1u);
        EXPECT_EQ(made, tries);
        EXPECT_EQ(percent.load(), 100);
        EXPECT_TRUE(HoldsFaultBody(target, total, version)) << "the file differs";
        EXPECT_EQ(FaultRanges("id=" + id + "&"), ranges);
    };
    // 200 MiB through a link that drops every 25 MiB: eight tries, each asking for the rest.
    std::vector<std::string> everyCut = {"-"};
    for (std::uint32_t at = 25 * kMiB; at < 200 * kMiB; at += 25 * kMiB) {
        everyCut.push_back("bytes=" + std::to_string(at) + "-");
    }
    check("w-cut", "cut=26214400", 200 * kMiB, 8, 0, everyCut);
    const std::vector<std::string> resumed = {"-", "bytes=400000-"};
    check("w-date", "cut=400000&cuts=1&validator=date", 1000000, 2, 0, resumed);
    // A 200 for the request for the rest starts again from byte 0, with the package as it is.
    check("w-ignored", "cut=400000&cuts=1&ranges=ignore", 1000000, 2, 0, resumed);
    check("w-changed", "cut=400000&cuts=1&change=1", 1000000, 2, 1, resumed);
    // A range that does not continue the part is refused, and the next try asks for the whole.
    check("w-wrong-start", "cut=400000&cuts=1&ranges=wrong-start", 1000000, 3, 0,
          {"-", "bytes=400000-", "-"});
    check("w-wrong-total", "cut=400000&cuts=1&ranges=wrong-total", 1000000, 3, 0,
          {"-", "bytes=400000-", "-"});
    // So is the rest of another version than the part's.
    check("w-other-version", "cut=400000&cuts=1&ranges=other-version", 1000000, 3, 0,
          {"-", "bytes=400000-", "-"});
    // Without a strong validator nothing is resumed.
    check("w-weak", "cut=400000&cuts=1&validator=weak", 1000000, 2, 0, {"-", "-"});
    check("w-none", "cut=400000&cuts=1&validator=none", 1000000, 2, 0, {"-", "-"});
}

// A server and a proxy that take turns with their challenges: the loop gives up after ten
// answers, and as soon as the attempt is cancelled. Wine's WinHTTP answers a challenge itself,
// once, where it holds credentials for it, so the server counts up to two requests per pass.
TEST(RealWinHttp, ChallengesTakingTurnsEndWithinTheCapAndAtOnceWhenCancelled) {
    if (Env(L"QERV_TEST_FAULT_HTTP_PORT").empty()) GTEST_SKIP() << "run through with-servers.sh";
    WinHttpWrapper wrapper;
    const TempDir dir;
    const std::wstring target = dir.File(L"Setup.dat");
    std::atomic<LONG> cancel{0}, percent{0};
    const auto download = [&](const wchar_t* path) {
        const std::wstring url = FaultUrl(L"http", path);
        return wrapper.SafeDownloadFile(url.c_str(), target.c_str(), nullptr, &cancel,
                                        WinHTTP_Download_Type_Direct_Connect, L"qerv", L"secret",
                                        &percent);
    };
    DownloadLogTail log;
    EXPECT_EQ(download(L"/taking-turns?id=w-turns&"), 0u);
    const size_t answered = FaultRequests("id=w-turns&").size();
    EXPECT_GE(answered, 2u);
    EXPECT_LE(answered, 2u * 10u);
    EXPECT_EQ(Starting(log.Lines(), {"SafeDownloadFile: authentication failed"}).size(), 1u);
    EXPECT_FALSE(FileExists(target));

    // Each answer takes a fifth of a second; the flag is set once two have come.
    size_t atCancel = 0;
    std::thread canceller([&] {
        for (int i = 0; i < 500 && FaultRequests("id=w-turns-cancelled&").size() < 2; ++i) {
            Sleep(10);
        }
        atCancel = FaultRequests("id=w-turns-cancelled&").size();
        cancel = 1;
    });
    EXPECT_EQ(download(L"/taking-turns?id=w-turns-cancelled&delay=200"), 0u);
    canceller.join();
    EXPECT_GE(atCancel, 2u);
    EXPECT_LE(FaultRequests("id=w-turns-cancelled&").size(), atCancel + 1);
}

}  // namespace
