#pragma once

// Modal dialogs of this program's dialog framework, built from a dialog template resource.
#include <windows.h>

#include "ui/framework/wnd.h"

// What DoDataExchange is given: the dialog and the direction of the exchange.
class CDataExchange {
  public:
    CDataExchange(CWnd* pDlgWnd, BOOL bSaveAndValidate)
        : m_pDlgWnd(pDlgWnd), m_bSaveAndValidate(bSaveAndValidate) {}

    CWnd* m_pDlgWnd;
    BOOL m_bSaveAndValidate;
};

// Binds rControl to the dialog's control nIDC by subclassing it, once.
void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl);

class CDialog : public CWnd {
  public:
    explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);

    // Creates the dialog, runs it and gives the result passed to EndDialog (-1 when the dialog
    // could not be created).
    INT_PTR DoModal();

    // Ends the modal run with nResult. Also called from threads other than the dialog's own.
    void EndDialog(int nResult);

    // The base binds the controls (DoDataExchange) and lets the dialog manager set the focus.
    virtual BOOL OnInitDialog();

    // Centres the window over its owner, or without one in its monitor's work area.
    void CenterWindow();

  protected:
    virtual void DoDataExchange(CDataExchange* pDX);
    BOOL UpdateData(BOOL bSaveAndValidate);

    // IDOK and IDCANCEL (Esc among them) end the dialog with that result.
    BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) override;

  private:
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

    UINT m_nIDTemplate;
    CWnd* m_pParentWnd;
};
