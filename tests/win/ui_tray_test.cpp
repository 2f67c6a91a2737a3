// The tray: the dialog hides into the notification area when its hide timer fires, its icon
// animates there, and only a left click brings the dialog back.
#include "ui_dialog_harness.h"

namespace {

using uitest::DialogRun;
using uitest::DialogTest;

// Whether the shell holds the dialog's tray icon: only an icon that exists can be modified.
bool HasTrayIcon(HWND hDialog) {
    NOTIFYICONDATAW nid = {};
    nid.cbSize = sizeof(nid);
    nid.hWnd = hDialog;
    nid.uID = kTrayIconId;
    return ::Shell_NotifyIconW(NIM_MODIFY, &nid) != FALSE;
}

// Counts the timer messages of one id that the dialog's thread takes while the object exists.
class TimerWatch {
  public:
    TimerWatch(DWORD dwThreadId, UINT_PTR nID)
        : m_hHook(::SetWindowsHookExW(WH_GETMESSAGE, &Hook, nullptr, dwThreadId)) {
        s_nID = nID;
        s_nCount = 0;
    }
    ~TimerWatch() { ::UnhookWindowsHookEx(m_hHook); }
    static int Count() { return s_nCount; }

  private:
    static LRESULT CALLBACK Hook(int nCode, WPARAM wParam, LPARAM lParam) {
        auto* pMsg = reinterpret_cast<MSG*>(lParam);
        if (nCode == HC_ACTION && wParam == PM_REMOVE && pMsg->message == WM_TIMER &&
            pMsg->wParam == s_nID) {
            ++s_nCount;
        }
        return ::CallNextHookEx(nullptr, nCode, wParam, lParam);
    }
    static inline std::atomic<UINT_PTR> s_nID{0};
    static inline std::atomic<int> s_nCount{0};

    HHOOK m_hHook;
};

TEST_F(DialogTest, HidesToTrayAndOnlyALeftClickBringsItBack) {
    DialogRun run;
    ASSERT_TRUE(run.WaitForWorker());
    HWND hDialog = run.Window();
    uitest::WaitUntilFirstShown(hDialog);
    EXPECT_FALSE(HasTrayIcon(hDialog));

    TimerWatch animation(run.ThreadId(), IDT_TRAY_ANIMATION);
    ::PostMessageW(hDialog, WM_TIMER, IDT_HIDE_TO_TRAY, 0);
    ASSERT_TRUE(uitest::WaitUntil([&] { return !::IsWindowVisible(hDialog); }));
    ASSERT_TRUE(uitest::WaitUntil([&] { return HasTrayIcon(hDialog); }));

    // The frame changes once a second while the icon is in the tray.
    EXPECT_TRUE(uitest::WaitUntil([] { return TimerWatch::Count() >= 2; }, 3500));

    for (LPARAM mouse : {WM_RBUTTONDOWN, WM_LBUTTONDBLCLK, WM_MOUSEMOVE, WM_LBUTTONUP}) {
        ::SendMessageW(hDialog, WM_TRAY_NOTIFY, kTrayIconId, mouse);
    }
    EXPECT_FALSE(::IsWindowVisible(hDialog));
    EXPECT_TRUE(HasTrayIcon(hDialog));

    ::SendMessageW(hDialog, WM_TRAY_NOTIFY, kTrayIconId, WM_LBUTTONDOWN);
    EXPECT_TRUE(::IsWindowVisible(hDialog));
    EXPECT_FALSE(::IsIconic(hDialog));
    EXPECT_FALSE(HasTrayIcon(hDialog));
}

// A hidden run's worker hides the dialog while it is still being set up, before the dialog
// manager first shows it: that first show must not bring it back. A left click on the tray icon
// still does.
TEST_F(DialogTest, HideBeforeTheFirstShowKeepsTheDialogHidden) {
    DialogRun run;
    ASSERT_TRUE(run.WaitForWorker());
    HWND hDialog = run.Window();
    run.View()->Hide();
    ::Sleep(1500);
    EXPECT_FALSE(::IsWindowVisible(hDialog));

    ::SendMessageW(hDialog, WM_TRAY_NOTIFY, kTrayIconId, WM_LBUTTONDOWN);
    EXPECT_TRUE(::IsWindowVisible(hDialog));
}

}  // namespace
