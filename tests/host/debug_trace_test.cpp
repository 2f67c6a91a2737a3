#include "app/debug_trace.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "trace_recorder.h"

namespace {

class DebugTraceTest : public ::testing::Test {
  protected:
    testsupport::TraceRecorder traces;
};

TEST_F(DebugTraceTest, FormatsOneLineWithoutLineEnd) {
    DebugTrace(L"dwStatus: %d, %ls", 1001, L"ok");
    const std::vector<std::wstring> lines = traces.Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], L"dwStatus: 1001, ok");
}

TEST_F(DebugTraceTest, OverlongLineIsCutToTheBuffer) {
    const std::size_t kKept = kDebugTraceChars - 1;
    for (std::size_t length : {kKept - 1, kKept, kKept + 1, std::size_t{10000}}) {
        traces.Clear();
        const std::wstring text(length, L'z');
        DebugTrace(L"%ls", text.c_str());
        const std::vector<std::wstring> lines = traces.Lines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0], text.substr(0, kKept)) << length;
    }
}

}  // namespace
