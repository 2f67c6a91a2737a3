#include "base/debug_trace.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "trace_recorder.h"

namespace {

class DebugTraceTest : public ::testing::Test {
  protected:
    testsupport::TraceRecorder traces;
};

TEST_F(DebugTraceTest, PercentSTakesAWideString) {
    DebugTrace(L"szProcessPath: %s", L"\"C:\\T\u1EA3i\\SetupB.exe\"  x");
    DebugTrace(L"[%d] %s=%lu", -7, L"dwStatus", 1001UL);
    EXPECT_EQ(traces.Lines(),
              (std::vector<std::wstring>{L"szProcessPath: \"C:\\T\u1EA3i\\SetupB.exe\"  x",
                                         L"[-7] dwStatus=1001"}));
}

// A trace between a failed step and the read of its code leaves the code as it was.
TEST_F(DebugTraceTest, LastErrorSurvivesATrace) {
    for (DWORD code : {DWORD{ERROR_ACCESS_DENIED}, DWORD{ERROR_SUCCESS}, DWORD{12029}}) {
        SetLastError(code);
        DebugTrace(L"szFileSavePath 2.1: %d", 5);
        EXPECT_EQ(GetLastError(), code);
    }
}

TEST_F(DebugTraceTest, OverlongLineIsCutToTheBuffer) {
    const std::size_t kKept = kDebugTraceChars - 1;
    for (std::size_t length : {kKept - 1, kKept, kKept + 1, std::size_t{10000}}) {
        traces.Clear();
        const std::wstring text(length, L'z');
        DebugTrace(L"%s", text.c_str());
        EXPECT_EQ(traces.Lines(), std::vector<std::wstring>{text.substr(0, kKept)}) << length;
    }
}

}  // namespace
