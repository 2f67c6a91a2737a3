#include "app/installer_launch_command.h"
#include "app/message_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <set>
#include <string>

namespace {

// Every test starts and ends with the start-up language, Vietnamese.
class MessagesTest : public ::testing::Test {
  protected:
    void SetUp() override { g_nLanguage = 0; }
    void TearDown() override { g_nLanguage = 0; }
};

struct ExpectedMessage {
    std::int32_t nKey;
    const wchar_t* szVietnamese;
    const wchar_t* szEnglish;
};

const ExpectedMessage kExpected[] = {
    {0, L"Hủy bỏ", L"Cancel"},
    {1, L"Có lỗi trong quá trình tải về. Bạn vui lòng thử lại sau!",
     L"Errors occur when downloading. Please try again latter!"},
    {2, L"Đã hoàn thành tải bộ cài đặt về. Đang chuẩn bị cài đặt",
     L"Download completed. Preparing for installation"},
    {3, L"Có lỗi trong quá trình khởi tạo ứng dụng. Bạn vui lòng thử lại sau!",
     L"Errors occur when initializing application. Please try again latter!"},
    {4, L"Có lỗi trong quá trình tải trực tiếp bộ cài đặt. Chuyển sang tải qua proxy mặc định",
     L"Errors occur when directly downloading installer. Switching to downloading via default "
     L"proxy"},
    {5, L"Có lỗi trong quá trình tải qua proxy mặc định. Chuyển sang tải qua cấu hình IE proxy",
     L"Errors occur when downloading via default proxy. Switching to downloading via IE proxy "
     L"configuration"},
    {6, L"Bạn cần thực thi bộ cài đặt dưới quyền admin!",
     L"Please run Qerv setup with admin permission!"},
    {7, L"Bạn có muốn dừng quá trình cài đặt Qerv không?",
     L"Are you sure you want to stop Qerv installation?"},
    {8, L"Tải qua proxy mặc định:  ", L"Download via default proxy: "},
    {9, L"Tải qua cấu hình IE proxy: ", L"Download via IE proxy configuration: "},
    {10, L"Đang khởi tạo tài nguyên", L"Initializing resource"},
    {11, L"Đang khởi tạo kết nối", L"Initializing connection"},
    {12, L"Đang kiểm tra kết nối mạng", L"Checking Internet connection"},
    {13, L"Đang phân tích liên kết", L"Analyzing connection"},
    {14, L"Đang kết nối tới server", L"Connecting to server"},
    {15, L"Đang khởi tạo yêu cầu tới server", L"Initializing request to sever"},
    {16, L"Đang gửi yêu cầu tới server", L"Sending request to server"},
    {17, L"Đang tải bộ cài đặt", L"Downloading installer"},
    {18, L"Không đủ bộ nhớ để nhận dữ liệu", L"Not enough space for the download"},
    {19, L"Có lỗi trong quá trình tải về, trình cài đặt đang cố gắng tải tiếp",
     L"Errors occur when downloading, the installer is trying to resume the download"},
    {22,
     L"Máy tính của bạn đã được cài sẵn %s.\nĐể có thể cài đặt phiên bản mới, bạn cần phải gỡ bỏ "
     L"phiên bản hiện thời.",
     L"%s has already been installed on your computer.\nTo install the new version, you should "
     L"uninstall the current version."},
    {23, L"Bạn cần thực thi bộ cài đặt dưới quyền admin!",
     L"Please run Qerv setup with admin permission!"},
    {25,
     L"Máy tính của bạn đã được cài sẵn Qerv. Bạn cần gỡ bỏ phiên bản Qerv đang có trên máy tính "
     L"trước khi cài đặt phiên bản Qerv Vantorel Internet Security!",
     L"Qerv has already been installed on your computer.\nTo install the Qerv Vantorel Internet "
     L"Security version, you should uninstall the current version."},
};

TEST_F(MessagesTest, EveryKeyGivesItsTextInTheSelectedLanguage) {
    struct Language {
        std::int32_t nValue;
        bool bEnglish;
    };
    const Language kLanguages[] = {
        {0, false}, {1, true}, {2, false}, {-1, false}, {0x7FFFFFFF, false}};
    for (const Language& language : kLanguages) {
        g_nLanguage = language.nValue;
        for (const ExpectedMessage& expected : kExpected) {
            SCOPED_TRACE(testing::Message()
                         << "key " << expected.nKey << ", language " << language.nValue);
            EXPECT_EQ(GetMessageText(expected.nKey),
                      language.bEnglish ? expected.szEnglish : expected.szVietnamese);
        }
    }
}

TEST_F(MessagesTest, TableHoldsEachKeyOnce) {
    std::set<std::int32_t> keys;
    for (std::size_t i = 0; i < kMessageTableSize; ++i) {
        EXPECT_TRUE(keys.insert(MessageTable[i].nKey).second) << MessageTable[i].nKey;
    }
    EXPECT_EQ(kMessageTableSize, sizeof(kExpected) / sizeof(kExpected[0]));
}

TEST_F(MessagesTest, VietnameseTextsUsePrecomposedCodePoints) {
    // "Hủy bỏ": u with hook above and o with hook above as single code points.
    EXPECT_EQ(GetMessageText(kMsgCancel), std::wstring({0x48, 0x1EE7, 0x79, 0x20, 0x62, 0x1ECF}));
    // Capital D with stroke (U+0110), not the look-alike eth (U+00D0).
    EXPECT_EQ(GetMessageText(kMsgStageDownloading).substr(0, 4),
              std::wstring({0x110, 0x61, 0x6E, 0x67}));
    EXPECT_EQ(GetMessageText(kMsgDownloadCompleted).substr(0, 2), std::wstring({0x110, 0xE3}));
    // "được": d with stroke, u with horn, o with horn and dot below.
    EXPECT_NE(GetMessageText(kMsgOldEditionFound).find(std::wstring({0x111, 0x1B0, 0x1EE3, 0x63})),
              std::wstring::npos);
}

TEST_F(MessagesTest, StatusPrefixesKeepTheirTrailingSpaces) {
    struct Case {
        std::int32_t nKey;
        std::int32_t nLanguage;
        const wchar_t* szEnding;
    };
    const Case kCases[] = {
        {kMsgDefaultProxyPrefix, 0, L":  "},
        {kMsgDefaultProxyPrefix, 1, L"y: "},
        {kMsgIeProxyPrefix, 0, L"y: "},
        {kMsgIeProxyPrefix, 1, L"n: "},
    };
    for (const Case& c : kCases) {
        g_nLanguage = c.nLanguage;
        const std::wstring text = GetMessageText(c.nKey);
        ASSERT_GE(text.size(), 3u);
        EXPECT_EQ(text.substr(text.size() - 3), c.szEnding) << c.nKey << "/" << c.nLanguage;
    }
}

TEST_F(MessagesTest, LineBreaksAreSingleLineFeeds) {
    struct Case {
        std::int32_t nKey;
        std::int32_t nLanguage;
        std::size_t nBreaks;
    };
    const Case kCases[] = {
        {kMsgInstalledEditionFound, 0, 1},
        {kMsgInstalledEditionFound, 1, 1},
        {kMsgOldEditionFound, 0, 0},
        {kMsgOldEditionFound, 1, 1},
    };
    for (const Case& c : kCases) {
        g_nLanguage = c.nLanguage;
        const std::wstring text = GetMessageText(c.nKey);
        EXPECT_EQ(std::count(text.begin(), text.end(), L'\n'),
                  static_cast<std::ptrdiff_t>(c.nBreaks));
        EXPECT_EQ(text.find(L'\\'), std::wstring::npos);
        EXPECT_EQ(text.find(L'\r'), std::wstring::npos);
    }
}

TEST_F(MessagesTest, KeysOutsideTheTableGiveTheEmptyString) {
    const std::int32_t kMissing[] = {-1, 20, 21, 24, 26, 100, 0x7FFFFFFF};
    for (std::int32_t nLanguage : {0, 1}) {
        g_nLanguage = nLanguage;
        for (std::int32_t nKey : kMissing) EXPECT_EQ(GetMessageText(nKey), L"") << nKey;
    }
}

TEST_F(MessagesTest, NotAdminAndElevationDeclinedShareTheirTexts) {
    for (std::int32_t nLanguage : {0, 1}) {
        g_nLanguage = nLanguage;
        EXPECT_EQ(GetMessageText(kMsgNotAdmin), GetMessageText(kMsgElevationDeclined));
    }
}

TEST(InstallerLanguageWord, DependsOnLanguageAndKindOfStart) {
    struct Case {
        std::int32_t nLanguage;
        InstallerStart start;
        const wchar_t* szWord;
    };
    const Case kCases[] = {
        {0, InstallerStart::kDirect, L"x"},
        {0, InstallerStart::kElevated, L"/Vietnamese"},
        {1, InstallerStart::kDirect, L"/English"},
        {1, InstallerStart::kElevated, L"/English"},
        {2, InstallerStart::kDirect, L"/Vietnamese"},
        {2, InstallerStart::kElevated, L"/Vietnamese"},
        {-1, InstallerStart::kDirect, L"/Vietnamese"},
        {-1, InstallerStart::kElevated, L"/Vietnamese"},
    };
    for (const Case& c : kCases) {
        EXPECT_STREQ(InstallerLanguageWord(c.nLanguage, c.start), c.szWord)
            << c.nLanguage << "/" << static_cast<int>(c.start);
    }
}

}  // namespace
