// The dialog as the worker thread sees it. Each call only sends to the dialog's windows or ends
// the modal run, which the dialog's own thread then carries out.
#include <windows.h>

#include <commctrl.h>

#include "ui/framework/message_box.h"
#include "ui/setup_dialog.h"
#include "ui/status_text_gate.h"

HWND CQervOnlineSetupDlg::MainWindow() { return m_hWnd; }

HWND CQervOnlineSetupDlg::ProgressBar() { return ::GetDlgItem(m_hWnd, IDC_PROGRESS); }

bool CQervOnlineSetupDlg::Hide() { return ::ShowWindow(m_hWnd, SW_HIDE) != FALSE; }

void CQervOnlineSetupDlg::SetProgress(int percent) {
    ::SendMessageW(ProgressBar(), PBM_SETPOS, static_cast<WPARAM>(percent), 0);
}

void CQervOnlineSetupDlg::SetStatusText(const wchar_t* text) {
    ::SetWindowTextW(::GetDlgItem(m_hWnd, IDC_STATUS_TEXT), text);
}

void CQervOnlineSetupDlg::PauseStatusText() { TheStatusTextGate().Hold(); }

void CQervOnlineSetupDlg::ResumeStatusText() { TheStatusTextGate().Release(); }

int CQervOnlineSetupDlg::ShowMessageBox(const wchar_t* text, UINT flags) {
    return AfxMessageBox(text, flags);
}
