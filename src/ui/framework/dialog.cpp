#include "ui/framework/dialog.h"

#include "ui/framework/win_app.h"

void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl) {
    if (rControl.GetSafeHwnd() == nullptr) {
        rControl.SubclassWindow(::GetDlgItem(pDX->m_pDlgWnd->GetSafeHwnd(), nIDC));
    }
}

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd)
    : m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd) {}

INT_PTR CDialog::DoModal() {
    HWND hParent = m_pParentWnd ? m_pParentWnd->GetSafeHwnd() : nullptr;
    return ::DialogBoxParamW(AfxGetResourceHandle(), MAKEINTRESOURCEW(m_nIDTemplate), hParent,
                             &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
}

void CDialog::EndDialog(int nResult) { ::EndDialog(m_hWnd, nResult); }

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::DoDataExchange(CDataExchange*) {}

BOOL CDialog::UpdateData(BOOL bSaveAndValidate) {
    CDataExchange dx(this, bSaveAndValidate);
    DoDataExchange(&dx);
    return TRUE;
}

BOOL CDialog::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
    if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED &&
        (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        EndDialog(LOWORD(wParam));
        *pResult = 0;
        return TRUE;
    }
    return CWnd::OnWndMsg(message, wParam, lParam, pResult);
}

void CDialog::CenterWindow() {
    // Over the owner when there is one; otherwise in the work area of the window's monitor.
    RECT rcWindow;
    if (!::GetWindowRect(m_hWnd, &rcWindow)) return;
    RECT rcArea;
    const HWND hOwner = ::GetWindow(m_hWnd, GW_OWNER);
    if (hOwner != nullptr && ::IsWindowVisible(hOwner) && !::IsIconic(hOwner)) {
        ::GetWindowRect(hOwner, &rcArea);
    } else {
        MONITORINFO info = {};
        info.cbSize = sizeof(info);
        if (!::GetMonitorInfoW(::MonitorFromWindow(m_hWnd, MONITOR_DEFAULTTOPRIMARY), &info)) {
            return;
        }
        rcArea = info.rcWork;
    }
    const int cx = rcWindow.right - rcWindow.left;
    const int cy = rcWindow.bottom - rcWindow.top;
    int x = rcArea.left + (rcArea.right - rcArea.left - cx) / 2;
    int y = rcArea.top + (rcArea.bottom - rcArea.top - cy) / 2;
    // A window larger than the area keeps its top-left corner inside it.
    if (x < rcArea.left) x = rcArea.left;
    if (y < rcArea.top) y = rcArea.top;
    ::SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hWnd, UINT message, WPARAM, LPARAM lParam) {
    // The object takes the window over at WM_INITDIALOG; from then on its message map sees every
    // message first and this procedure, reached through the default processing, leaves the rest
    // to the dialog manager.
    if (message != WM_INITDIALOG) {
        return FALSE;
    }
    CDialog* pDialog = reinterpret_cast<CDialog*>(lParam);
    pDialog->SubclassWindow(hWnd);
    RECT rcBefore = {};
    ::GetWindowRect(hWnd, &rcBefore);
    const BOOL bResult = pDialog->OnInitDialog();
    // A top-level dialog that its initialisation did not move is centred once it has its final
    // size; one that was moved, or that initialisation ended or destroyed, stays where it is.
    RECT rcAfter = {};
    if (::IsWindow(hWnd) && (::GetWindowLongW(hWnd, GWL_STYLE) & WS_CHILD) == 0 &&
        ::GetWindowRect(hWnd, &rcAfter) && rcAfter.left == rcBefore.left &&
        rcAfter.top == rcBefore.top) {
        pDialog->CenterWindow();
    }
    return bResult;
}
