#include "app/debug_trace.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::wstring> g_lines;

void Record(const wchar_t* line) { g_lines.emplace_back(line); }

class DebugTraceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        g_lines.clear();
        SetDebugTraceObserver(&Record);
    }
    void TearDown() override { SetDebugTraceObserver(nullptr); }
};

TEST_F(DebugTraceTest, FormatsOneLineWithoutLineEnd) {
    DebugTrace(L"dwStatus: %d, %ls", 1001, L"ok");
    ASSERT_EQ(g_lines.size(), 1u);
    EXPECT_EQ(g_lines[0], L"dwStatus: 1001, ok");
}

TEST_F(DebugTraceTest, OverlongLineIsCutToTheBuffer) {
    const std::size_t kKept = kDebugTraceChars - 1;
    for (std::size_t length : {kKept - 1, kKept, kKept + 1, std::size_t{10000}}) {
        g_lines.clear();
        const std::wstring text(length, L'z');
        DebugTrace(L"%ls", text.c_str());
        ASSERT_EQ(g_lines.size(), 1u);
        EXPECT_EQ(g_lines[0], text.substr(0, kKept)) << length;
    }
}

}  // namespace
