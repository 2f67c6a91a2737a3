// The tray icon that the dialog hides into: forty seconds after start-up (and after each return)
// the dialog goes to the notification area, where its icon alternates between two frames; a left
// click on it brings the dialog back.
#include "ui/framework/win_app.h"
#include "ui/setup_dialog.h"

namespace {

constexpr int kTrayFrameCount = 2;

#ifndef _WIN64
// The full record, balloon icon included, as the shell of Vista and later knows it.
static_assert(sizeof(NOTIFYICONDATAW) == 956, "NOTIFYICONDATAW of Vista and later");
#endif

HICON LoadTrayFrame(int nFrame) {
    return ::LoadIconW(AfxGetInstanceHandle(), MAKEINTRESOURCEW(IDI_TRAY_FRAME_FIRST + nFrame));
}

}  // namespace

BOOL CQervOnlineSetupDlg::InitTrayIcon() {
    const std::lock_guard<std::mutex> lock(m_trayLock);
    m_nid = NOTIFYICONDATAW{};
    m_nid.cbSize = sizeof(m_nid);
    m_nid.hWnd = m_hWnd;
    m_nid.uID = kTrayIconId;
    m_nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    m_nid.uCallbackMessage = WM_TRAY_NOTIFY;
    m_nid.hIcon = LoadTrayFrame(0);
    m_nTrayFrame = 0;
    ::SetTimer(m_hWnd, IDT_HIDE_TO_TRAY, kHideToTrayMs, nullptr);
    m_bInTray = FALSE;
    return TRUE;
}

void CQervOnlineSetupDlg::OnTimer(UINT_PTR nIDEvent) {
    if (nIDEvent == IDT_HIDE_TO_TRAY) {
        HideToTray();
    } else if (nIDEvent == IDT_TRAY_ANIMATION) {
        AnimateTrayIcon();
    }
    Default();
}

void CQervOnlineSetupDlg::HideToTray() {
    if (m_bInTray) {
        return;
    }
    const std::lock_guard<std::mutex> lock(m_trayLock);
    // The process is ending: no icon is left behind in the notification area.
    if (m_bTrayClosed) {
        return;
    }
    ::KillTimer(m_hWnd, IDT_HIDE_TO_TRAY);
    ::ShowWindow(m_hWnd, SW_MINIMIZE);
    ::ShowWindow(m_hWnd, SW_HIDE);
    ::Shell_NotifyIconW(NIM_ADD, &m_nid);
    // Started on every entry and never killed; outside the tray its ticks do nothing.
    ::SetTimer(m_hWnd, IDT_TRAY_ANIMATION, kTrayAnimationMs, nullptr);
    m_bInTray = TRUE;
}

void CQervOnlineSetupDlg::AnimateTrayIcon() {
    if (!m_bInTray) {
        return;
    }
    m_nTrayFrame = (m_nTrayFrame + 1) % kTrayFrameCount;
    // A frame that cannot be loaded leaves the previous one in place.
    if (HICON hFrame = LoadTrayFrame(m_nTrayFrame)) {
        m_nid.hIcon = hFrame;
    }
    ::Shell_NotifyIconW(NIM_MODIFY, &m_nid);
}

LRESULT CQervOnlineSetupDlg::OnTrayNotify(WPARAM, LPARAM lParam) {
    if (lParam != WM_LBUTTONDOWN) {
        return 0;
    }
    if (m_bInTray) {
        // Back for another full stay before the next hide.
        ::SetTimer(m_hWnd, IDT_HIDE_TO_TRAY, kHideToTrayMs, nullptr);
        ::Shell_NotifyIconW(NIM_DELETE, &m_nid);
        m_bInTray = FALSE;
    }
    m_bHiddenByWorker = false;
    ::ShowWindow(m_hWnd, SW_RESTORE);
    ::ShowWindow(m_hWnd, SW_SHOW);
    ::SetForegroundWindow(m_hWnd);
    return 0;
}
