// Ending the dialog: the stop question from the cancel button and the close command, Esc and
// IDOK, the worker's end, the single-instance guard, and a start-up check that ends it at once.
#include "sleep_recorder.h"
#include "ui_dialog_harness.h"

namespace {

using uitest::DialogRun;
using uitest::DialogTest;

constexpr wchar_t kMutexName[] = L"Global\\QervSetupOnlineMutex";

void AskWith(DialogRun& run, bool bCloseCommand) {
    if (bCloseCommand) {
        ::PostMessageW(run.Window(), WM_SYSCOMMAND, SC_CLOSE, 0);
    } else {
        ::PostMessageW(run.Window(), WM_COMMAND, MAKEWPARAM(1005, BN_CLICKED),
                       reinterpret_cast<LPARAM>(run.Control(1005)));
    }
}

TEST_F(DialogTest, StopQuestionAndYes) {
    struct Case {
        bool bCloseCommand;
        DWORD dwLanguage;
        const wchar_t* szQuestion;
        const wchar_t* szIcon;
        std::vector<unsigned> uiThreadWaits;
    } const kCases[] = {
        {false, 0, L"Bạn có muốn dừng quá trình cài đặt Qerv không?", IDI_INFORMATION, {}},
        // Yes to the close command ends the dialog 200 ms later than Yes to the button.
        {true, 1, L"Are you sure you want to stop Qerv installation?", IDI_QUESTION, {200}},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.bCloseCommand ? "close command" : "cancel button");
        StoreLanguage(c.dwLanguage);
        g_nCancelState = kCancelStateNone;
        testsupport::SleepRecorder sleeps(testsupport::SleepRecorder::Then::kSleep);
        DialogRun run;
        ASSERT_TRUE(run.WaitForWorker());

        AskWith(run, c.bCloseCommand);
        HWND hBox = uitest::WaitForMessageBox(run.ThreadId(), run.Window());
        ASSERT_NE(hBox, nullptr);
        EXPECT_EQ(g_nCancelState.load(), kCancelStateAsked);
        EXPECT_EQ(uitest::WindowText(hBox), uitest::kCaption);
        EXPECT_EQ(uitest::MessageBoxText(hBox), c.szQuestion);
        EXPECT_EQ(uitest::MessageBoxIcon(hBox), ::LoadIconW(nullptr, c.szIcon));
        EXPECT_NE(::GetDlgItem(hBox, IDNO), nullptr);
        EXPECT_EQ(::GetWindow(hBox, GW_OWNER), run.Window());

        uitest::AnswerMessageBox(hBox, IDYES);
        ASSERT_TRUE(run.WaitForEnd());
        EXPECT_EQ(run.Result(), 0);
        EXPECT_EQ(g_nCancelState.load(), kCancelStateConfirmed);
        EXPECT_EQ(sleeps.WaitsOf(run.ThreadId()), c.uiThreadWaits);
    }
}

TEST_F(DialogTest, NoKeepsTheSetupGoingAndANewQuestionReopensIt) {
    DialogRun run;
    ASSERT_TRUE(run.WaitForWorker());
    for (bool bCloseCommand : {false, true}) {
        AskWith(run, bCloseCommand);
        HWND hBox = uitest::WaitForMessageBox(run.ThreadId(), run.Window());
        ASSERT_NE(hBox, nullptr);
        uitest::AnswerMessageBox(hBox, IDNO);
        ASSERT_TRUE(uitest::WaitUntil([&] { return !::IsWindow(hBox); }));
        EXPECT_EQ(g_nCancelState.load(), kCancelStateNone);
        EXPECT_FALSE(run.WaitForEnd(300));
    }
    // Asked after the worker passed its stop point, the question opens all the same.
    g_nCancelState = kCancelStatePastStopPoint;
    AskWith(run, false);
    HWND hBox = uitest::WaitForMessageBox(run.ThreadId(), run.Window());
    ASSERT_NE(hBox, nullptr);
    EXPECT_EQ(g_nCancelState.load(), kCancelStateAsked);
    uitest::AnswerMessageBox(hBox, IDYES);
    ASSERT_TRUE(run.WaitForEnd());
    EXPECT_EQ(g_nCancelState.load(), kCancelStateConfirmed);
}

TEST_F(DialogTest, EscAndOkEndTheDialogWithoutAsking) {
    for (auto [message, wParam, nResult] : {std::array<UINT, 3>{WM_KEYDOWN, VK_ESCAPE, IDCANCEL},
                                            std::array<UINT, 3>{WM_COMMAND, IDOK, IDOK}}) {
        DialogRun run;
        ASSERT_TRUE(run.WaitForWorker());
        ::PostMessageW(run.Window(), message, wParam, 0);
        ASSERT_TRUE(run.WaitForEnd());
        EXPECT_EQ(run.Result(), static_cast<INT_PTR>(nResult));
        EXPECT_EQ(g_nCancelState.load(), kCancelStateNone);
    }
}

TEST_F(DialogTest, SecondCopyEndsAtOnceWithoutWindow) {
    HANDLE hFirst = ::CreateMutexW(nullptr, FALSE, kMutexName);
    const int nStarts = uitest::Worker().nStarts;
    EXPECT_FALSE(theApp.InitInstance());
    EXPECT_EQ(uitest::Worker().nStarts, nStarts);
    ::CloseHandle(hFirst);
}

TEST_F(DialogTest, FirstCopyHoldsTheMutexUntilTheWorkerEndsTheDialog) {
    ::ResetEvent(uitest::Worker().hStarted);
    theApp.m_pfnWorker = &uitest::RecordingWorker;
    std::thread ui([] { EXPECT_FALSE(theApp.InitInstance()); });
    ASSERT_EQ(::WaitForSingleObject(uitest::Worker().hStarted, uitest::kWaitMs), WAIT_OBJECT_0);
    HANDLE hProbe = ::CreateMutexW(nullptr, FALSE, kMutexName);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    ::CloseHandle(hProbe);
    EXPECT_NE(g_hStatusThread.load(), nullptr);
    EXPECT_NE(g_hWorkerThread.load(), nullptr);

    uitest::Worker().pView.load()->EndSetupDialog();
    ui.join();
    EXPECT_EQ(g_hStatusThread.load(), nullptr);
    EXPECT_EQ(g_hWorkerThread.load(), nullptr);
    hProbe = ::CreateMutexW(nullptr, FALSE, kMutexName);
    EXPECT_NE(::GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    ::CloseHandle(hProbe);
}

TEST_F(DialogTest, OlderEditionEndsTheDialogBeforeAnyThreadStarts) {
    testsupport::TempDir folder;
    ASSERT_TRUE(testsupport::WriteBytes(folder.File(L"Qerv2009.exe"), {}));
    testsupport::RegistryValueGuard installDir(kQervKey, kInstallDirValue);
    ASSERT_TRUE(testsupport::WriteMachineString(kQervKey, kInstallDirValue, folder.path()));
    const int nStarts = uitest::Worker().nStarts;

    DialogRun run;
    HWND hBox = uitest::WaitForMessageBox(run.ThreadId(), nullptr);
    ASSERT_NE(hBox, nullptr);
    // Framework boxes carry the application's name: the program's file name.
    EXPECT_EQ(uitest::WindowText(hBox), L"win_ui_tests");
    EXPECT_EQ(uitest::MessageBoxText(hBox),
              L"Máy tính của bạn đã được cài sẵn Qerv. Bạn cần gỡ bỏ phiên bản Qerv đang có "
              L"trên máy tính trước khi cài đặt phiên bản Qerv Vantorel Internet Security!");
    EXPECT_EQ(uitest::MessageBoxIcon(hBox), ::LoadIconW(nullptr, IDI_EXCLAMATION));
    uitest::AnswerMessageBox(hBox, IDOK);
    ASSERT_TRUE(run.WaitForEnd());
    EXPECT_EQ(run.Result(), IDCANCEL);
    EXPECT_EQ(uitest::Worker().nStarts, nStarts);
}

}  // namespace
