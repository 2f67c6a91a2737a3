#include "base/debug_trace.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "trace_recorder.h"

namespace {

// One line per call, without a line end; an overlong line is cut to the buffer.
TEST(DebugTrace, FormatsOneLineCutToTheBuffer) {
    testsupport::TraceRecorder traces;
    DebugTrace(L"dwStatus: %d, %ls", 1001, L"ok");
    EXPECT_EQ(traces.Lines(), std::vector<std::wstring>{L"dwStatus: 1001, ok"});
    const std::size_t kKept = kDebugTraceChars - 1;
    for (std::size_t length : {kKept - 1, kKept, kKept + 1, std::size_t{10000}}) {
        traces.Clear();
        const std::wstring text(length, L'z');
        DebugTrace(L"%ls", text.c_str());
        EXPECT_EQ(traces.Lines(), std::vector<std::wstring>{text.substr(0, kKept)}) << length;
    }
}

}  // namespace
