#include "app/message_table.h"

#include <gtest/gtest.h>

#include <climits>
#include <set>
#include <string>

namespace {

// What users read, byte for byte: the spaces that end the status prefixes (two in Vietnamese),
// the English slips, the line breaks, and the one text that two keys share.
TEST(MessageTable, SpotChecksOfStoredTexts) {
    const struct {
        std::int32_t nKey;
        std::int32_t nLanguage;
        const wchar_t* szText;
    } kCases[] = {
        {kMsgCancel, 0, L"H\u1ee7y b\u1ecf"},
        {kMsgCancel, 1, L"Cancel"},
        {kMsgDefaultProxyPrefix, 0, L"Tải qua proxy mặc định:  "},
        {kMsgDefaultProxyPrefix, 1, L"Download via default proxy: "},
        {kMsgIeProxyPrefix, 0, L"Tải qua cấu hình IE proxy: "},
        {kMsgIeProxyPrefix, 1, L"Download via IE proxy configuration: "},
        {kMsgDownloadFailed, 1, L"Errors occur when downloading. Please try again latter!"},
        {kMsgStageInitRequest, 1, L"Initializing request to sever"},
        {kMsgStageDownloading, 0, L"\u0110ang t\u1ea3i b\u1ed9 c\u00e0i \u0111\u1eb7t"},
        {kMsgInstalledEditionFound, 0,
         L"Máy tính của bạn đã được cài sẵn %s.\nĐể có thể cài đặt phiên bản mới, bạn cần phải "
         L"gỡ bỏ phiên bản hiện thời."},
        {kMsgInstalledEditionFound, 1,
         L"%s has already been installed on your computer.\nTo install the new version, you should "
         L"uninstall the current version."},
        {kMsgOldEditionFound, 0,
         L"Máy tính của bạn đã được cài sẵn Qerv. Bạn cần gỡ bỏ phiên bản Qerv đang có trên máy "
         L"tính trước khi cài đặt phiên bản Qerv Vantorel Internet Security!"},
        {kMsgOldEditionFound, 1,
         L"Qerv has already been installed on your computer.\nTo install the Qerv Vantorel "
         L"Internet Security version, you should uninstall the current version."},
        {kMsgNotAdmin, 0, L"Bạn cần thực thi bộ cài đặt dưới quyền admin!"},
        {kMsgElevationDeclined, 0, L"Bạn cần thực thi bộ cài đặt dưới quyền admin!"},
        {kMsgNotAdmin, 1, L"Please run Qerv setup with admin permission!"},
        {kMsgElevationDeclined, 1, L"Please run Qerv setup with admin permission!"},
    };
    for (const auto& c : kCases) {
        g_nLanguage = c.nLanguage;
        EXPECT_EQ(GetMessageText(c.nKey), c.szText) << c.nKey << "/" << c.nLanguage;
    }
}

// 1 selects English; every other value, including 2 that some installations store, Vietnamese.
// Keys outside the table give the empty string.
TEST(MessageTable, LanguageSelectionAndKeysOutsideTheTable) {
    const std::set<std::int32_t> kKeys = {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11,
                                          12, 13, 14, 15, 16, 17, 18, 19, 22, 23, 25};
    std::set<std::int32_t> seen;
    for (std::size_t i = 0; i < kMessageTableSize; ++i) {
        EXPECT_TRUE(seen.insert(MessageTable[i].nKey).second) << "twice: " << MessageTable[i].nKey;
    }
    EXPECT_EQ(seen, kKeys);
    for (std::int32_t nLanguage : {0, 1, 2, -1, INT_MAX, INT_MIN}) {
        g_nLanguage = nLanguage;
        for (std::size_t i = 0; i < kMessageTableSize; ++i) {
            const MessageEntry& entry = MessageTable[i];
            EXPECT_EQ(GetMessageText(entry.nKey),
                      nLanguage == 1 ? entry.szEnglish : entry.szVietnamese)
                << "key " << entry.nKey << ", language " << nLanguage;
        }
        for (std::int32_t nKey : {-1, 20, 21, 24, 26, 100, INT_MAX, INT_MIN}) {
            EXPECT_EQ(GetMessageText(nKey), L"") << nKey << "/" << nLanguage;
        }
    }
}

// Vietnamese letters are single precomposed code points (a combining mark, or the look-alike
// U+00D0 for U+0110, shows wrongly), and line breaks are single line feeds.
TEST(MessageTable, TextsUsePrecomposedLettersAndBareLineFeeds) {
    for (std::int32_t nLanguage : {0, 1}) {
        g_nLanguage = nLanguage;
        for (std::size_t i = 0; i < kMessageTableSize; ++i) {
            for (wchar_t ch : GetMessageText(MessageTable[i].nKey)) {
                EXPECT_FALSE((ch >= 0x300 && ch <= 0x36F) || ch == 0xD0 || ch == L'\r' ||
                             ch == L'\\')
                    << "key " << MessageTable[i].nKey << " has U+" << std::hex << int{ch};
            }
        }
    }
}

}  // namespace
