// The download trace log in C:\WinHTTPLib.log: whole lines from concurrent threads, the length
// limit, and characters its 8-bit text cannot hold.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "download/log_line_encoding.h"
#include "download/winhttp_lib_log.h"
#include "download_scenario.h"

namespace {

using testsupport::DownloadLogTail;

// A lingering attempt's thread and the next attempt's thread log at the same time. The lines are
// longer than the C runtime's stream buffer, which writes a longer line in several pieces.
TEST(TraceLog, LinesOfTwoThreadsDoNotMix) {
    DownloadLogTail log;
    const auto writer = [](wchar_t mark) {
        for (int i = 0; i < 40; ++i) WinHTTPLibLogLine(std::wstring(6000, mark).c_str());
    };
    std::thread first(writer, L'a');
    std::thread second(writer, L'b');
    first.join();
    second.join();
    const std::vector<std::string> lines = log.Lines();
    ASSERT_EQ(lines.size(), 80u);
    for (const std::string& line : lines) {
        EXPECT_TRUE(line == std::string(6000, 'a') || line == std::string(6000, 'b'))
            << line.substr(0, 40) << "... (" << line.size() << " bytes)";
    }
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
