#include "install/installed_product_text.h"

#include <gtest/gtest.h>

#include <string>

#include "app/message_table.h"

namespace {

// The name goes where the current language's text puts it; a product without one is named by the
// suite's general name.
TEST(FormatInstalledEditionText, NamesTheProductInTheCurrentLanguage) {
    for (std::int32_t nLanguage : {0, 1}) {
        g_nLanguage = nLanguage;
        const std::wstring text = GetMessageText(kMsgInstalledEditionFound);
        for (std::wstring name : {L"Qerv Lunet", L""}) {
            std::wstring expected = text;
            expected.replace(text.find(L"%s"), 2, name.empty() ? L"Qerv Antivirus Software" : name);
            EXPECT_EQ(FormatInstalledEditionText(text, name.c_str()), expected);
        }
    }
    g_nLanguage = 0;
}

// The name comes from the registry: format directives in it are shown, never interpreted.
TEST(FormatInstalledEditionText, ShowsFormatDirectivesInTheNameLiterally) {
    EXPECT_EQ(FormatInstalledEditionText(L"[%s] %s", L"%s%n%d 100%"), L"[%s%n%d 100%] %s");
    EXPECT_EQ(FormatInstalledEditionText(L"no placeholder", L"X"), L"no placeholder");
    EXPECT_EQ(FormatInstalledEditionText(L"", L"X"), L"");
}

}  // namespace
