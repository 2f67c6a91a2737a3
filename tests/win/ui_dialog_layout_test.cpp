// The dialog as built and as initialised: the compiled resources, the pixel layout, the texts in
// both languages, and the calls the worker makes on it.
#include "ui_dialog_harness.h"

namespace {

using uitest::DialogRun;
using uitest::DialogTest;

const void* Resource(int nID, const wchar_t* szType) {
    HRSRC hInfo = ::FindResourceW(nullptr, MAKEINTRESOURCEW(nID), szType);
    return hInfo ? ::LockResource(::LoadResource(nullptr, hInfo)) : nullptr;
}

// Each image of an icon group as {size, bits per pixel}: after a 6-byte header with the count at
// byte 4, entries of 14 bytes with the width at byte 0 and the bit count at byte 6.
std::vector<std::array<int, 2>> IconImages(int nID) {
    std::vector<std::array<int, 2>> images;
    if (auto* pDir = static_cast<const BYTE*>(Resource(nID, RT_GROUP_ICON))) {
        for (int i = 0; i < pDir[4]; ++i) images.push_back({pDir[6 + 14 * i], pDir[12 + 14 * i]});
    }
    return images;
}

TEST(DialogResources, ArtworkAtItsSizesAndTheManifest) {
    using Images = std::vector<std::array<int, 2>>;
    EXPECT_EQ(IconImages(128), (Images{{128, 32}, {48, 32}, {32, 32}, {24, 32}, {16, 32}}));
    EXPECT_EQ(IconImages(129), (Images{{16, 8}}));
    EXPECT_EQ(IconImages(130), (Images{{16, 8}}));

    auto* pHeader = static_cast<const BITMAPINFOHEADER*>(Resource(130, RT_BITMAP));
    ASSERT_NE(pHeader, nullptr);
    EXPECT_EQ((std::array<int, 3>{pHeader->biWidth, pHeader->biHeight, pHeader->biBitCount}),
              (std::array<int, 3>{493, 58, 24}));

    // The common controls must be of the program's own architecture, or none load at all.
#ifdef _WIN64
    const char kArchitecture[] = "processorArchitecture=\"amd64\"";
#else
    const char kArchitecture[] = "processorArchitecture=\"x86\"";
#endif
    auto* pManifest = static_cast<const char*>(Resource(1, RT_MANIFEST));
    ASSERT_NE(pManifest, nullptr);
    for (const char* szPart :
         {"level=\"requireAdministrator\" uiAccess=\"false\"",
          "\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"", kArchitecture}) {
        EXPECT_NE(std::string(pManifest).find(szPart), std::string::npos) << szPart;
    }
}

INT_PTR CALLBACK TemplateOnlyProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

TEST_F(DialogTest, TemplateTextsSurviveTheResourceCompiler) {
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&icc);
    HWND hDialog =
        ::CreateDialogParamW(nullptr, MAKEINTRESOURCEW(102), nullptr, &TemplateOnlyProc, 0);
    ASSERT_NE(hDialog, nullptr);
    EXPECT_EQ(uitest::WindowText(hDialog), L"Qerv Installation");
    EXPECT_EQ(uitest::WindowText(::GetDlgItem(hDialog, 1005)), L"Hủy bỏ");
    EXPECT_EQ(uitest::WindowText(::GetDlgItem(hDialog, 1007)), L"Đang tải bộ cài đặt");
    // No minimise or maximise box, no resizing.
    EXPECT_EQ(::GetWindowLongW(hDialog, GWL_STYLE) & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_SIZEBOX),
              0);
    ::DestroyWindow(hDialog);
}

TEST_F(DialogTest, PixelLayoutAfterInitialisation) {
    DialogRun run;
    ASSERT_TRUE(run.WaitForWorker());
    RECT window;
    ::GetWindowRect(run.Window(), &window);
    EXPECT_EQ(window.right - window.left, 493);
    EXPECT_EQ(window.bottom - window.top, 241);
    EXPECT_EQ(uitest::PlaceInParent(run.Control(-1)), (std::array<int, 4>{0, 0, 493, 58}));
    EXPECT_EQ(uitest::PlaceInParent(run.Control(1007)), (std::array<int, 4>{26, 81, 442, 30}));
    EXPECT_EQ(uitest::PlaceInParent(run.Control(1003)), (std::array<int, 4>{26, 115, 442, 25}));
    EXPECT_EQ(uitest::PlaceInParent(run.Control(1005)), (std::array<int, 4>{386, 166, 82, 27}));
}

TEST_F(DialogTest, TextsFollowTheStoredLanguage) {
    struct Case {
        bool bStored;
        DWORD dwStored;
        const wchar_t* szCancel;
    } const kCases[] = {
        {false, 0, L"Hủy bỏ"},
        {true, 1, L"Cancel"},
        {true, 2, L"Hủy bỏ"},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.bStored ? "stored " + std::to_string(c.dwStored) : "nothing stored");
        if (c.bStored) StoreLanguage(c.dwStored);
        g_nLanguage = 0;
        DialogRun run;
        ASSERT_TRUE(run.WaitForWorker());
        EXPECT_EQ(g_nLanguage.load(), static_cast<std::int32_t>(c.dwStored));
        EXPECT_EQ(uitest::WindowText(run.Control(1005)), c.szCancel);
        EXPECT_EQ(uitest::WindowText(run.Window()), uitest::kCaption);
        // Empty until the status line has a download object to show.
        EXPECT_EQ(uitest::WindowText(run.Control(1007)), L"");
    }
}

TEST_F(DialogTest, WorkerCallsReachTheControls) {
    DialogRun run;
    ASSERT_TRUE(run.WaitForWorker());
    SetupDialogView* pView = run.View();
    EXPECT_EQ(pView->MainWindow(), run.Window());
    EXPECT_EQ(pView->ProgressBar(), run.Control(1003));

    pView->SetProgress(40);
    EXPECT_EQ(::SendMessageW(run.Control(1003), PBM_GETPOS, 0, 0), 40);
    pView->SetStatusText(L"Đang tải bộ cài đặt");
    EXPECT_EQ(uitest::WindowText(run.Control(1007)), L"Đang tải bộ cài đặt");

    uitest::WaitUntilFirstShown(run.Window());
    EXPECT_TRUE(pView->Hide());
    EXPECT_FALSE(::IsWindowVisible(run.Window()));
    EXPECT_FALSE(pView->Hide());
}

}  // namespace
