#include "app/message_table.h"
#include "install/installed_product_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class InstalledProductText : public ::testing::Test {
  protected:
    void TearDown() override { g_nLanguage = 0; }
};

struct TextCase {
    std::int32_t nLanguage;
    const wchar_t* szName;
    const wchar_t* szExpected;
};

TEST_F(InstalledProductText, NamesTheProductInTheCurrentLanguage) {
    const TextCase kCases[] = {
        {kLanguageEnglish, L"Qerv Lunet",
         L"Qerv Lunet has already been installed on your computer.\nTo install the new version, "
         L"you should uninstall the current version."},
        {kLanguageEnglish, L"",
         L"Qerv Antivirus Software has already been installed on your computer.\nTo install the "
         L"new version, you should uninstall the current version."},
        {0, L"Qerv Lunet",
         L"Máy tính của bạn đã được cài sẵn Qerv Lunet.\nĐể có thể cài đặt phiên bản mới, bạn cần "
         L"phải gỡ bỏ phiên bản hiện thời."},
        {0, L"",
         L"Máy tính của bạn đã được cài sẵn Qerv Antivirus Software.\nĐể có thể cài đặt phiên bản "
         L"mới, bạn cần phải gỡ bỏ phiên bản hiện thời."},
    };
    for (const TextCase& c : kCases) {
        g_nLanguage = c.nLanguage;
        EXPECT_EQ(FormatInstalledEditionText(GetMessageText(kMsgInstalledEditionFound), c.szName),
                  c.szExpected);
    }
}

// The name comes from the registry: format directives in it are shown, never interpreted.
TEST_F(InstalledProductText, ShowsFormatDirectivesInTheNameLiterally) {
    EXPECT_EQ(FormatInstalledEditionText(L"[%s] %s", L"%s%n%d 100%"), L"[%s%n%d 100%] %s");
    EXPECT_EQ(FormatInstalledEditionText(L"no placeholder", L"X"), L"no placeholder");
    EXPECT_EQ(FormatInstalledEditionText(L"", L"X"), L"");
}

}  // namespace
