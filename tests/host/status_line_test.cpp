// The status line: prefix by connection type, stage text by download status, dots by tick, in
// both languages, for every type and status the dialog can meet.
#include "ui/status_line.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/message_table.h"

namespace {

struct LanguageText {
    const wchar_t* szVietnamese;
    const wchar_t* szEnglish;
};

const LanguageText kNoText = {L"", L""};

struct StageCase {
    std::uint32_t dwStatus;
    LanguageText text;
};

const StageCase kStages[] = {
    {0,
     {L"Đã hoàn thành tải bộ cài đặt về. Đang chuẩn bị cài đặt",
      L"Download completed. Preparing for installation"}},
    {1, {L"Đang kiểm tra kết nối mạng", L"Checking Internet connection"}},
    {2, {L"Đang phân tích liên kết", L"Analyzing connection"}},
    {3, {L"Đang kết nối tới server", L"Connecting to server"}},
    {4, {L"Đang khởi tạo yêu cầu tới server", L"Initializing request to sever"}},
    // No download status has this value, yet it has a text.
    {5, {L"Đang gửi yêu cầu tới server", L"Sending request to server"}},
    {6, {L"Đang tải bộ cài đặt", L"Downloading installer"}},
    {7, {L"Không đủ bộ nhớ để nhận dữ liệu", L"Not enough space for the download"}},
    {8, {L"Đang tải bộ cài đặt", L"Downloading installer"}},
    {999, {L"Đang khởi tạo tài nguyên", L"Initializing resource"}},
    {1000,
     {L"Có lỗi trong quá trình tải về, trình cài đặt đang cố gắng tải tiếp",
      L"Errors occur when downloading, the installer is trying to resume the download"}},
    {1001, {L"Đang khởi tạo kết nối", L"Initializing connection"}},
    // Statuses without a stage text: cancelled by the user, and values around the known ones.
    {500, kNoText},
    {9, kNoText},
    {998, kNoText},
    {1002, kNoText},
    {0xFFFFFFFFu, kNoText},
};

struct PrefixCase {
    std::uint32_t dwType;
    LanguageText text;
};

// Message 8 ends in two spaces in Vietnamese and one in English.
const PrefixCase kPrefixes[] = {
    {0, kNoText},
    {1, kNoText},
    {2, {L"Tải qua proxy mặc định:  ", L"Download via default proxy: "}},
    {3, {L"Tải qua cấu hình IE proxy: ", L"Download via IE proxy configuration: "}},
    {4, kNoText},
    {5, kNoText},
};

const wchar_t* InLanguage(const LanguageText& text, std::int32_t nLanguage) {
    return nLanguage == 1 ? text.szEnglish : text.szVietnamese;
}

class StatusLineTest : public ::testing::Test {
  protected:
    void TearDown() override { g_nLanguage = 0; }
};

TEST_F(StatusLineTest, EveryTypeAndStatusInEveryLanguage) {
    const wchar_t* kDots[] = {L".", L"..", L"..."};
    // 2 is stored by some installations; like every value but 1 it means Vietnamese.
    for (std::int32_t nLanguage : {0, 1, 2}) {
        g_nLanguage = nLanguage;
        for (const PrefixCase& prefix : kPrefixes) {
            for (const StageCase& stage : kStages) {
                for (int nDots = 1; nDots <= 3; ++nDots) {
                    std::wstring expected = std::wstring(InLanguage(prefix.text, nLanguage)) +
                                            InLanguage(stage.text, nLanguage) + kDots[nDots - 1];
                    EXPECT_EQ(ComposeStatusLine(prefix.dwType, stage.dwStatus, nDots), expected)
                        << "language " << nLanguage << ", type " << prefix.dwType << ", status "
                        << stage.dwStatus << ", dots " << nDots;
                }
            }
        }
    }
}

TEST(StatusLineDots, CountOneToThreeThenAgain) {
    std::vector<int> counts;
    int nDots = kFirstDotCount;
    for (int i = 0; i < 7; ++i) {
        counts.push_back(nDots);
        nDots = NextDotCount(nDots);
    }
    EXPECT_EQ(counts, (std::vector<int>{1, 2, 3, 1, 2, 3, 1}));
}

}  // namespace
