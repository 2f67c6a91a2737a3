// System detection under Wine's 64-bit prefix, where the 32-bit build runs under WOW64 and the
// 64-bit build runs natively: both are on 64-bit Windows.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "base/debug_trace.h"
#include "system/installer_url.h"
#include "system/old_windows.h"
#include "system/os_description.h"
#include "trace_recorder.h"

namespace {

TEST(InstallerUrl, SixtyFourBitPackageOn64BitWindows) {
    const std::wstring sUrl = GetInstallerURL();
    EXPECT_EQ(sUrl.rfind(L"https://", 0), 0u) << sUrl;
    EXPECT_EQ(sUrl.find(L"/QV3tup2015X64.exe"), sUrl.size() - 18) << sUrl;
    EXPECT_TRUE(GetAlternateInstallerURL().empty());
}

TEST(OsDescription, DescribesWineAsWindows) {
    wchar_t szDescription[kOsDescriptionChars];
    // Twice: the second call finds COM security already set up.
    for (int i = 0; i < 2; ++i) {
        wmemset(szDescription, L'x', kOsDescriptionChars);
        ASSERT_TRUE(GetOSDescription(szDescription));
        const std::wstring sText(szDescription);
        EXPECT_NE(sText.find(L"Windows"), std::wstring::npos) << sText;
        EXPECT_NE(sText.find(L" version "), std::wstring::npos) << sText;
        EXPECT_NE(sText.find(L" for x64"), std::wstring::npos) << sText;
    }
    EXPECT_FALSE(GetOSDescription(nullptr));
}

// A thread already in the multithreaded apartment cannot enter a single-threaded one.
TEST(OsDescription, ComRefusalIsTracedAndFails) {
    testsupport::TraceRecorder traces;
    bool bResult = true;
    wchar_t szDescription[kOsDescriptionChars] = L"stale";
    std::thread worker([&] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        bResult = GetOSDescription(szDescription);
        CoUninitialize();
    });
    worker.join();
    EXPECT_FALSE(bResult);
    EXPECT_STREQ(szDescription, L"");
    EXPECT_EQ(traces.Lines(),
              std::vector<std::wstring>{L"Failed to initialize COM library. Error code = " +
                                        std::to_wstring(static_cast<int>(RPC_E_CHANGED_MODE))});
}

TEST(OldWindows, WineIsNotOld) {
    EXPECT_FALSE(IsOldWindows());
    EXPECT_FALSE(IsOldWindows());
}

}  // namespace
