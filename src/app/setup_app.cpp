#include "app/setup_app.h"

#include <windows.h>

#include <commctrl.h>

#include "base/scoped_handle.h"
#include "ui/setup_dialog.h"

BOOL CQervOnlineSetupApp::InitInstance() {
    INITCOMMONCONTROLSEX icc = {};
    icc.dwSize = sizeof(icc);
    icc.dwICC = ICC_WIN95_CLASSES;
    ::InitCommonControlsEx(&icc);

    CWinApp::InitInstance();

    ScopedHandle mutex(::CreateMutexW(nullptr, FALSE, kSingleInstanceMutexName));
    if (mutex.valid() && ::GetLastError() == ERROR_ALREADY_EXISTS) {
        // A copy is running already: this one ends at once, with no window and no message.
        return FALSE;
    }
    // Without a mutex at all the setup still runs, as a first copy would.
    // The dialog lives until the process ends: after a confirmed stop the worker and download
    // threads may still reach it until the process is gone, and then find a destroyed window
    // rather than a destroyed object.
    CQervOnlineSetupDlg* dlg = new CQervOnlineSetupDlg(m_pfnWorker);
    m_pMainWnd = dlg;
    dlg->DoModal();
    dlg->RemoveTrayIcon();
    m_pMainWnd = nullptr;
    mutex.reset();
    return FALSE;
}
