// Puts the dialog into the states worth looking at and has tests/e2e/ui_screenshots.sh photograph
// each: <name>.ready in QERV_UI_SCREENSHOT_DIR (without it these skip) holds the screen rectangle
// "x y width height", and the script answers with <name>.png.
#include <cstdio>
#include <string>

#include "ui_dialog_harness.h"

namespace {

using uitest::DialogRun;
using uitest::DialogTest;

std::wstring ShotFolder() { return testsupport::Env(L"QERV_UI_SCREENSHOT_DIR"); }

// Has the screen area of the given windows photographed as <name>.png.
void Photograph(const std::wstring& name, std::initializer_list<HWND> windows) {
    RECT area = {};
    for (HWND hWnd : windows) {
        RECT rect;
        ::GetWindowRect(hWnd, &rect);
        ::UnionRect(&area, &area, &rect);
    }
    // Paint and let the status line settle before the picture.
    ::Sleep(300);
    const std::wstring base = ShotFolder() + L"\\" + name;
    char rect[64];
    const int n = std::snprintf(rect, sizeof rect, "%ld %ld %ld %ld\n", area.left, area.top,
                                area.right - area.left, area.bottom - area.top);
    ASSERT_TRUE(testsupport::WriteBytes(base + L".ready.tmp", {rect, rect + n}));
    ::MoveFileW((base + L".ready.tmp").c_str(), (base + L".ready").c_str());
    EXPECT_TRUE(uitest::WaitUntil([&] { return testsupport::FileExists(base + L".png"); }, 30000))
        << "no picture taken of " << std::string(name.begin(), name.end());
}

class Screenshots : public DialogTest {
  protected:
    void SetUp() override {
        DialogTest::SetUp();
        if (ShotFolder().empty()) GTEST_SKIP() << "pictures are taken by ui_screenshots.sh";
    }

    // Starts the dialog in a language, with the status line showing type and status.
    void Start(DialogRun& run, DWORD dwLanguage, DWORD dwType, DWORD dwStatus) {
        StoreLanguage(dwLanguage);
        uitest::StatusObject().m_dwType = dwType;
        uitest::StatusObject().m_dwStatus = dwStatus;
        ASSERT_TRUE(run.WaitForWorker());
        uitest::WaitUntilFirstShown(run.Window());
        g_pWinHttpWrapper = &uitest::StatusObject();
        ASSERT_TRUE(uitest::WaitUntil(
            [&] { return !uitest::WindowText(run.Control(IDC_STATUS_TEXT)).empty(); }));
    }
};

TEST_F(Screenshots, Downloading) {
    struct Shot {
        const wchar_t* szName;
        DWORD dwLanguage, dwType, dwStatus;
        int nPercent;
    } const kShots[] = {
        {L"vi_initial", 0, 0, 999, 0},
        {L"vi_default_proxy_receiving", 0, 2, 8, 45},
        {L"en_ie_proxy_receiving", 1, 3, 8, 70},
        {L"en_completed", 1, 1, 0, 100},
    };
    for (const Shot& shot : kShots) {
        DialogRun run;
        ASSERT_NO_FATAL_FAILURE(Start(run, shot.dwLanguage, shot.dwType, shot.dwStatus));
        run.View()->SetProgress(shot.nPercent);
        Photograph(shot.szName, {run.Window()});
    }
}

TEST_F(Screenshots, NoticesAndStopQuestion) {
    {
        DialogRun run;
        ASSERT_NO_FATAL_FAILURE(Start(run, 0, 1, 8));
        run.View()->SetProgress(30);
        run.View()->PauseStatusText();
        run.View()->SetStatusText(
            L"Có lỗi trong quá trình tải qua proxy mặc định. Chuyển sang tải qua cấu hình IE "
            L"proxy");
        Photograph(L"vi_long_notice", {run.Window()});
        run.View()->SetStatusText(L"Đang tải bộ cài đặt.");
        Photograph(L"vi_short_after_long", {run.Window()});
        run.View()->ResumeStatusText();
    }
    for (DWORD dwLanguage : {0u, 1u}) {
        DialogRun run;
        ASSERT_NO_FATAL_FAILURE(Start(run, dwLanguage, 1, 8));
        run.View()->SetProgress(60);
        ::PostMessageW(run.Window(), WM_COMMAND, MAKEWPARAM(IDC_CANCEL_BUTTON, BN_CLICKED),
                       reinterpret_cast<LPARAM>(run.Control(IDC_CANCEL_BUTTON)));
        HWND hBox = uitest::WaitForMessageBox(run.ThreadId(), run.Window());
        ASSERT_NE(hBox, nullptr);
        Photograph(dwLanguage == 1 ? L"en_stop_question" : L"vi_stop_question",
                   {run.Window(), hBox});
        uitest::AnswerMessageBox(hBox, IDNO);
    }
}

}  // namespace
