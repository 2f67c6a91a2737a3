// The body of SafeDownloadFile against the scripted WinHTTP: Content-Length rules, chunks, the
// availability retries and their pauses, cancel, progress, and what reaches the disk.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <string>
#include <vector>

#include "download_scenario.h"

namespace {

using testsupport::DownloadScenario;
using testsupport::FakeResponse;
using testsupport::OkResponse;

constexpr unsigned kPause = 3000;

FakeResponse Body(const std::string& body, DWORD contentLength, DWORD chunkSize = 4096) {
    FakeResponse response = OkResponse(body);
    response.contentLength = contentLength;
    response.chunkSize = chunkSize;
    return response;
}

std::string Pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return bytes;
}

TEST(Body, WithoutAUsableLengthFailsBeforeAnyFileIsMade) {
    FakeResponse noLength = OkResponse("body");
    noLength.contentLength.reset();
    for (const FakeResponse& response : {noLength, Body("body", 0)}) {
        DownloadScenario s;
        s.fake.responses = {response};
        EXPECT_EQ(s.Run(), 0u);
        EXPECT_EQ(s.wrapper.m_dwStatus.load(), WinHTTP_Download_Status_Error);
        EXPECT_FALSE(s.TargetExists());
        EXPECT_TRUE(s.fake.readSizes.empty());
        EXPECT_EQ(s.fake.OpenHandles(), 0);
    }
}

TEST(Body, ArrivesInChunksOfTheAvailableSizeAndIsWrittenWhole) {
    DownloadScenario s;
    const std::string body = Pattern(10000);
    s.fake.responses = {Body(body, 10000, 4096)};
    ASSERT_EQ(s.Run(), 1u);
    EXPECT_EQ(s.wrapper.m_dwStatus.load(), WinHTTP_Download_Status_Completed);
    EXPECT_EQ(s.fake.readSizes, (std::vector<DWORD>{4096, 4096, 1808}));
    EXPECT_EQ(s.TargetBytes(), body);
    EXPECT_EQ(s.percent.load(), 100);
    EXPECT_TRUE(s.Pauses().empty());
    EXPECT_EQ(s.fake.OpenHandles(), 0);
}

TEST(Body, BytesBeyondContentLengthAreDropped) {
    DownloadScenario s;
    s.fake.responses = {Body("0123456789SURPLUS", 10)};
    ASSERT_EQ(s.Run(), 1u);
    EXPECT_EQ(s.TargetBytes(), "0123456789");
    EXPECT_EQ(s.fake.readSizes.size(), 1u);
}

TEST(Body, EarlyCloseKeepsTheShortFileAndFailsAfterOnePause) {
    DownloadScenario s;
    const std::string body = Pattern(60);
    s.fake.responses = {Body(body, 100, 40)};
    EXPECT_EQ(s.Run(), 0u);
    EXPECT_EQ(s.wrapper.m_dwStatus.load(), WinHTTP_Download_Status_Error);
    EXPECT_EQ(s.TargetBytes(), body);
    EXPECT_EQ(s.Pauses(), std::vector<unsigned>{kPause});
    EXPECT_EQ(s.percent.load(), 60);
    EXPECT_TRUE(s.LogHas("SafeDownloadFile: WinHttpQueryDataAvailable dwSize = 0"));
    EXPECT_TRUE(s.LogHas("Before CloseHandle"));
    EXPECT_EQ(s.fake.OpenHandles(), 0);
}

struct AvailabilityCase {
    std::vector<DWORD> errors;
    DWORD result;
    std::vector<unsigned> pauses;
    size_t reads;
};

class Availability : public ::testing::TestWithParam<AvailabilityCase> {};

// A failed query is asked again after a 3 s pause; the third failure ends the download.
TEST_P(Availability, FailedQueriesAreRetriedTwice) {
    DownloadScenario s;
    FakeResponse response = Body("abc", 3);
    response.availabilityErrors = GetParam().errors;
    s.fake.responses = {response};
    EXPECT_EQ(s.Run(), GetParam().result);
    EXPECT_EQ(s.Pauses(), GetParam().pauses);
    EXPECT_EQ(s.fake.readSizes.size(), GetParam().reads);
    const bool gaveUp =
        s.LogHas("SafeDownloadFile return by WinHttpQueryDataAvailable error: ErrorCode=12002");
    EXPECT_EQ(gaveUp, GetParam().result == 0);
    EXPECT_TRUE(s.TargetExists());
    EXPECT_EQ(s.fake.OpenHandles(), 0);
}

INSTANTIATE_TEST_SUITE_P(Retries, Availability,
                         ::testing::Values(AvailabilityCase{{12002}, 1, {kPause}, 1},
                                           AvailabilityCase{{12002, 12002}, 1, {kPause, kPause}, 1},
                                           AvailabilityCase{
                                               {12002, 12002, 12002}, 0, {kPause, kPause}, 0}));

TEST(Body, FailedReadEndsTheDownload) {
    DownloadScenario s;
    FakeResponse response = Body("abc", 3);
    response.readFails = true;
    s.fake.responses = {response};
    EXPECT_EQ(s.Run(), 0u);
    EXPECT_EQ(s.wrapper.m_dwStatus.load(), WinHTTP_Download_Status_Error);
    EXPECT_TRUE(s.LogHas("SafeDownloadFile return by WinHttpReadData error"));
    EXPECT_EQ(s.fake.OpenHandles(), 0);
}

TEST(Cancel, FlagSetBeforeTheStartStopsAfterTheFirstChunk) {
    DownloadScenario s;
    s.cancel = 1;
    s.fake.responses = {Body(Pattern(300), 300, 100)};
    EXPECT_EQ(s.Run(), 0u);
    EXPECT_EQ(s.wrapper.m_dwStatus.load(), WinHTTP_Download_Status_Cancel_By_User);
    EXPECT_EQ(s.fake.sends, 1);
    EXPECT_EQ(s.fake.readSizes.size(), 1u);
    EXPECT_TRUE(s.TargetExists());
    EXPECT_EQ(s.TargetBytes(), "");
    EXPECT_TRUE(s.LogHas("SafeDownloadFile return by WinHTTP_Download_Status_Cancel_By_User"));
    EXPECT_EQ(s.fake.OpenHandles(), 0);
}

TEST(Cancel, FlagSetDuringAReadTakesEffectWhenThatReadCompletes) {
    DownloadScenario s;
    s.fake.responses = {Body(Pattern(300), 300, 100)};
    s.fake.onRead = [&s](int readIndex) {
        if (readIndex == 1) s.cancel = 1;
    };
    EXPECT_EQ(s.Run(), 0u);
    EXPECT_EQ(s.wrapper.m_dwStatus.load(), WinHTTP_Download_Status_Cancel_By_User);
    EXPECT_EQ(s.fake.readSizes.size(), 2u);
    EXPECT_EQ(s.percent.load(), 33);
}

// A progress bar stand-in that keeps the positions it is sent.
std::vector<WPARAM> g_positions;

LRESULT CALLBACK RecordPositions(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == PBM_SETPOS) {
        g_positions.push_back(wParam);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

TEST(Progress, EveryChunkMovesTheBarAndThePercentage) {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = RecordPositions;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"QervDownloadProgressProbe";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowW(windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                nullptr, windowClass.hInstance, nullptr);
    ASSERT_NE(window, nullptr);
    g_positions.clear();

    DownloadScenario s;
    s.progressWindow = window;
    s.fake.responses = {Body(Pattern(300), 300, 100)};
    EXPECT_EQ(s.Run(), 1u);
    EXPECT_EQ(g_positions, (std::vector<WPARAM>{33, 66, 100}));
    EXPECT_EQ(s.percent.load(), 100);
    DestroyWindow(window);
}

// The target is the client end of a named pipe whose server ends go away once the whole body
// has been read, so every byte arrives but none can be written. Two server ends, because opening
// the name to delete it may take one.
TEST(Body, FailedWriteFailsTheDownloadEvenWhenEveryByteArrived) {
    wchar_t pipeName[64];
    _snwprintf(pipeName, 63, L"\\\\.\\pipe\\qerv-download-%lu", GetCurrentProcessId());
    pipeName[63] = L'\0';
    std::vector<HANDLE> servers;
    for (int i = 0; i < 2; ++i) {
        servers.push_back(CreateNamedPipeW(pipeName, PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT,
                                           PIPE_UNLIMITED_INSTANCES, 0, 0, 0, nullptr));
        ASSERT_NE(servers.back(), INVALID_HANDLE_VALUE);
    }

    DownloadScenario s;
    s.target = pipeName;
    s.fake.responses = {Body("whole body", 10)};
    s.fake.onRead = [&servers](int) {
        for (HANDLE server : servers) CloseHandle(server);
        servers.clear();
    };
    EXPECT_EQ(s.Run(), 0u);
    EXPECT_EQ(s.wrapper.m_dwStatus.load(), WinHTTP_Download_Status_Error);
    EXPECT_EQ(s.percent.load(), 100);
    EXPECT_TRUE(s.LogHas("WriteFile Error !"));
    EXPECT_EQ(s.fake.OpenHandles(), 0);
    for (HANDLE server : servers) CloseHandle(server);
}

}  // namespace
