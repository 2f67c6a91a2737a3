// The tray: the dialog hides into the notification area when its hide timer fires, and only a left
// click brings it back. (The icon's animation is seen on screen by the end-to-end tray test.)
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

TEST_F(DialogTest, HidesToTrayAndOnlyALeftClickBringsItBack) {
    DialogRun run;
    ASSERT_TRUE(run.WaitForWorker());
    HWND hDialog = run.Window();
    uitest::WaitUntilFirstShown(hDialog);
    EXPECT_FALSE(HasTrayIcon(hDialog));

    ::PostMessageW(hDialog, WM_TIMER, IDT_HIDE_TO_TRAY, 0);
    ASSERT_TRUE(uitest::WaitUntil([&] { return !::IsWindowVisible(hDialog); }));
    ASSERT_TRUE(uitest::WaitUntil([&] { return HasTrayIcon(hDialog); }));

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
