// The download trace log in C:\WinHTTPLib.log: whole lines from concurrent threads, the length
// limit, characters its 8-bit text cannot hold, and what stands in its place.
#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "download/log_line_encoding.h"
#include "download/winhttp_lib_log.h"
#include "download_scenario.h"
#include "test_support.h"

namespace {

using testsupport::DownloadLogTail;

// A lingering attempt's thread and the next attempt's thread log at the same time. The lines are
// longer than the C runtime's stream buffer, which writes a longer line in several pieces.
TEST(TraceLog, LinesOfTwoThreadsDoNotMix) {
    DownloadLogTail log;
    const auto writer = [](wchar_t mark) {
        for (int i = 0; i < 40; ++i) WinHTTPLibLogLine(std::wstring(6000, mark).c_str());
    };
    std::thread first(writer, L'a'), second(writer, L'b');
    first.join();
    second.join();
    const std::vector<std::string> lines = log.Lines();
    ASSERT_EQ(lines.size(), 80u);
    for (const std::string& line : lines) {
        EXPECT_TRUE(line == std::string(6000, 'a') || line == std::string(6000, 'b'))
            << line.substr(0, 40) << "... (" << line.size() << " bytes)";
    }
}

// A message is written whole with its line end or not at all: one of the maximum length is
// written, longer ones are dropped, and characters that the log's code page lacks become '?'.
TEST(TraceLog, LinesAreWrittenWholeOrNotAtAll) {
    const std::wstring longest(kLogMessageChars - 1, L'a');
    const std::wstring tooLong(kLogMessageChars, L'b');
    DownloadLogTail log;
    WinHTTPLibLogLine(longest.c_str());
    WinHTTPLibLogLine(tooLong.c_str());
    WinHTTPLibLog(L"%s", tooLong.c_str());
    WinHTTPLibLog(L"%sc", longest.c_str());
    WinHTTPLibLog(L"%s", longest.c_str());
    WinHTTPLibLog(L"szURL = %s", L"http://h\u00e9te/\u0416/\U0001F600/x");
    const std::string written(kLogMessageChars - 1, 'a');
    EXPECT_EQ(log.Bytes(), written + "\r\n" + written + "\r\nszURL = http://h\xe9te/?/?/x\r\n");
}

// The setup runs elevated and the log lies where users may create files: a folder, a symbolic
// link or a hard link put in its place is not written through; the line is dropped silently.
TEST(TraceLog, IsNotWrittenThroughAFolderOrALink) {
    const std::wstring aside = std::wstring(kWinHTTPLibLogPath) + L".aside";
    const std::wstring target = L"C:\\qerv-log-target.txt";
    MoveFileExW(kWinHTTPLibLogPath, aside.c_str(), MOVEFILE_REPLACE_EXISTING);
    const std::function<bool()> kPlants[] = {
        [] { return CreateDirectoryW(kWinHTTPLibLogPath, nullptr) != FALSE; },
        [&] { return CreateSymbolicLinkW(kWinHTTPLibLogPath, target.c_str(), 0) != FALSE; },
        [&] { return CreateHardLinkW(kWinHTTPLibLogPath, target.c_str(), nullptr) != FALSE; },
    };
    for (const auto& plant : kPlants) {
        ASSERT_TRUE(testsupport::WriteBytes(target, {}));
        ASSERT_TRUE(plant());
        WinHTTPLibLogLine(L"planted");
        std::vector<unsigned char> bytes;
        EXPECT_TRUE(testsupport::ReadBytes(target, &bytes));
        EXPECT_TRUE(bytes.empty());
        if (!RemoveDirectoryW(kWinHTTPLibLogPath)) DeleteFileW(kWinHTTPLibLogPath);
        DeleteFileW(target.c_str());
    }
    MoveFileExW(aside.c_str(), kWinHTTPLibLogPath, MOVEFILE_REPLACE_EXISTING);
}

// A download call holds the log open: each line is in the file at once, for any reader that lets
// the writer go on, lines of another thread still go in whole, and the file is let go after.
TEST(TraceLog, HeldLogTakesEachLineAtOnceAndIsLetGoAfterwards) {
    const DownloadLogTail log;
    {
        const WinHTTPLibLogHold hold;
        WinHTTPLibLogLine(L"held 1");
        EXPECT_EQ(log.Lines(), std::vector<std::string>{"held 1"});
        std::thread([] { WinHTTPLibLogLine(L"other thread"); }).join();
        WinHTTPLibLogLine(L"held 2");
        EXPECT_EQ(log.Lines(), (std::vector<std::string>{"held 1", "other thread", "held 2"}));
    }
    HANDLE hAlone = CreateFileW(kWinHTTPLibLogPath, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(hAlone, INVALID_HANDLE_VALUE) << "the log is still open";
    if (hAlone != INVALID_HANDLE_VALUE) CloseHandle(hAlone);
}

}  // namespace
