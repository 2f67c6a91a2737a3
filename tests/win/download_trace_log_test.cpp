// The download trace log in C:\WinHTTPLib.log as the download writes it: the lines of a whole
// download in order, the size limit, and characters the log's 8-bit text cannot hold.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "download/log_line_encoding.h"
#include "download/winhttp_lib_log.h"
#include "download_scenario.h"

namespace {

using testsupport::DownloadLogTail;
using testsupport::DownloadScenario;

const std::string kAgent(std::begin(szDefaultAgent), std::end(szDefaultAgent) - 1);

TEST(TraceLog, WholeDownloadInOrder) {
    DownloadScenario s;
    testsupport::FakeResponse response = testsupport::OkResponse("0123456789");
    response.chunkSize = 6;
    s.fake.responses = {response};
    ASSERT_EQ(s.Run(L"127.0.0.1/qerv/Setup.dat?v=1"), 1u);

    const std::vector<std::string> expected = {
        "SafeDownloadFile: start WinHTTP_Download_Status_Init",
        "SafeDownloadFile: step 1",
        "szDefaultAgent = " + kAgent + ", szURL = http://127.0.0.1/qerv/Setup.dat?v=1",
        "WrapperOpen type WinHTTP_Download_Type_Direct_Connect, szAgent=" + kAgent,
        "SafeDownloadFile: step 1.1, error code 0",
        "SafeDownloadFile: step 1.2",
        "SafeDownloadFile: step 1.4",
        "SafeDownloadFile: step 2",
        "SafeDownloadFile: step 3",
        "SafeDownloadFile: session connected, request opened, status 200 [OK]",
        "SafeDownloadFile: WinHttpQueryHeaders dwDownloadSize = 10",
        "SafeDownloadFile: WinHttpQueryDataAvailable dwSize = 6",
        "SafeDownloadFile: WinHttpReadData dwNumberByRead = 6",
        "SafeDownloadFile dwCurrentDownloaded = 6, TotalDownloadSize = 10",
        "SafeDownloadFile: WinHttpQueryDataAvailable dwSize = 4",
        "SafeDownloadFile: WinHttpReadData dwNumberByRead = 4",
        "SafeDownloadFile dwCurrentDownloaded = 10, TotalDownloadSize = 10",
        "Before WriteFile",
        "Before CloseHandle",
    };
    EXPECT_EQ(s.log.Lines(), expected);
}

// A lingering attempt's thread and the next attempt's thread log at the same time: every line
// lands whole, on a line of its own. The lines are longer than the C runtime's stream buffer,
// which writes a longer line in several pieces.
TEST(TraceLog, LinesOfTwoThreadsDoNotMix) {
    DownloadLogTail log;
    constexpr int kLinesPerThread = 40;
    const auto writer = [](wchar_t mark) {
        for (int i = 0; i < kLinesPerThread; ++i) {
            WinHTTPLibLogLine(std::wstring(6000, mark).c_str());
        }
    };
    std::thread first(writer, L'a');
    std::thread second(writer, L'b');
    first.join();
    second.join();

    const std::vector<std::string> lines = log.Lines();
    ASSERT_EQ(lines.size(), 2u * kLinesPerThread);
    for (const std::string& line : lines) {
        EXPECT_TRUE(line == std::string(6000, 'a') || line == std::string(6000, 'b'))
            << line.substr(0, 40) << "... (" << line.size() << " bytes)";
    }
}

struct EarlyStop {
    const char* name;
    void (*script)(DownloadScenario& s);
    std::vector<std::string> lastLines;
};

class StartFailure : public ::testing::TestWithParam<EarlyStop> {};

// Each failure before the request leaves its own trace and status 1000, with nothing left open.
TEST_P(StartFailure, EndsWithItsOwnLine) {
    DownloadScenario s;
    GetParam().script(s);
    EXPECT_EQ(s.Run(), 0u);
    EXPECT_EQ(s.wrapper.m_dwStatus.load(), WinHTTP_Download_Status_Error);
    const std::vector<std::string> lines = s.log.Lines();
    const std::vector<std::string>& last = GetParam().lastLines;
    ASSERT_GE(lines.size(), last.size());
    EXPECT_EQ(std::vector<std::string>(lines.end() - static_cast<std::ptrdiff_t>(last.size()),
                                       lines.end()),
              last);
    EXPECT_EQ(s.fake.OpenHandles(), 0);
    EXPECT_FALSE(s.TargetExists());
}

INSTANTIATE_TEST_SUITE_P(
    Steps, StartFailure,
    ::testing::Values(EarlyStop{"NoSession",
                                [](DownloadScenario& s) { s.fake.openError = 12345; },
                                {"SafeDownloadFile: step 1.1, error code 12345"}},
                      EarlyStop{"UrlNotSplit",
                                [](DownloadScenario& s) { s.fake.crackFails = true; },
                                {"SafeDownloadFile: step 1.2",
                                 "SafeDownloadFile: step 1.3 error code 12005"}},
                      EarlyStop{"NoConnection",
                                [](DownloadScenario& s) { s.fake.connectFails = true; },
                                {"SafeDownloadFile: step 1.4", "SafeDownloadFile: step 1.5"}},
                      EarlyStop{"NoRequest",
                                [](DownloadScenario& s) { s.fake.openRequestFails = true; },
                                {"SafeDownloadFile: step 2"}}),
    [](const ::testing::TestParamInfo<EarlyStop>& info) { return std::string(info.param.name); });

// The settings reading's error code survives the log lines written after it.
TEST(TraceLog, IEProxyTypeWithoutSettingsLogsTheReadingsErrorCode) {
    DownloadScenario s;
    EXPECT_EQ(s.Run(testsupport::kFakeUrl, WinHTTP_Download_Type_By_IE_Proxy), 0u);
    EXPECT_EQ(s.wrapper.m_dwType.load(), WinHTTP_Download_Type_By_IE_Proxy);
    const std::vector<std::string> lines = s.log.Lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2],
              "WrapperOpen type WinHTTP_Download_Type_By_IE_Proxy, szAgent=" + kAgent);
    EXPECT_EQ(lines.back(), "SafeDownloadFile: step 1.1, error code 2");
}

TEST(TraceLog, NullArgumentsStopAtOnce) {
    DownloadScenario s;
    EXPECT_EQ(s.wrapper.SafeDownloadFile(nullptr, s.target.c_str(), nullptr, nullptr, 2, nullptr,
                                         nullptr, nullptr),
              0u);
    EXPECT_EQ(s.wrapper.SafeDownloadFile(testsupport::kFakeUrl, nullptr, nullptr, nullptr, 2,
                                         nullptr, nullptr, nullptr),
              0u);
    EXPECT_EQ(s.wrapper.m_dwStatus.load(), WinHTTP_Download_Status_Error);
    EXPECT_EQ(s.wrapper.m_dwType.load(), 2u);
    const std::string start = "SafeDownloadFile: start WinHTTP_Download_Status_Init";
    const std::string stop =
        "SafeDownloadFile: return by (szPathUrl == NULL) || (szPathSaveFile == NULL)";
    EXPECT_EQ(s.log.Lines(), (std::vector<std::string>{start, stop, start, stop}));
    EXPECT_TRUE(s.fake.opens.empty());
}

TEST(TraceLog, MessageOfMaximumLengthIsWrittenAndLongerOnesAreDropped) {
    const std::wstring longest(kLogMessageChars - 1, L'a');
    const std::wstring tooLong(kLogMessageChars, L'b');
    DownloadLogTail log;
    WinHTTPLibLogLine(longest.c_str());
    WinHTTPLibLogLine(tooLong.c_str());
    WinHTTPLibLog(L"%s", tooLong.c_str());
    WinHTTPLibLog(L"%sc", longest.c_str());
    WinHTTPLibLog(L"%s", longest.c_str());
    EXPECT_EQ(log.Lines(), std::vector<std::string>(2, std::string(kLogMessageChars - 1, 'a')));
}

TEST(TraceLog, UnconvertibleCharactersBecomeQuestionMarksAndTheLineKeepsItsEnd) {
    DownloadLogTail log;
    WinHTTPLibLog(L"szURL = %s", L"http://h\u00e9te/\u0416/\U0001F600/x");
    WinHTTPLibLogLine(L"next");
    EXPECT_EQ(log.Bytes(), "szURL = http://h\xe9te/?/?/x\r\nnext\r\n");
}

}  // namespace
