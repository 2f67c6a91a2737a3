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

INT_PTR CALLBACK CDialog::DialogProc(HWND hWnd, UINT message, WPARAM, LPARAM lParam) {
    // The object takes the window over at WM_INITDIALOG; from then on its message map sees every
    // message first and this procedure, reached through the default processing, leaves the rest
    // to the dialog manager.
    if (message != WM_INITDIALOG) {
        return FALSE;
    }
    CDialog* pDialog = reinterpret_cast<CDialog*>(lParam);
    pDialog->SubclassWindow(hWnd);
    return pDialog->OnInitDialog();
}
