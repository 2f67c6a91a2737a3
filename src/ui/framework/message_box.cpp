#include "ui/framework/message_box.h"

#include "ui/framework/win_app.h"
#include "ui/framework/wnd.h"

namespace {

HWND MessageBoxOwner() {
    CWnd* pMainWnd = AfxGetMainWnd();
    HWND hMain = pMainWnd ? pMainWnd->GetSafeHwnd() : nullptr;
    if (hMain == nullptr || !::IsWindow(hMain)) {
        return nullptr;
    }
    return ::GetLastActivePopup(hMain);
}

}  // namespace

int AfxMessageBox(const wchar_t* lpszText, UINT nType) {
    CWinApp* pApp = AfxGetApp();
    const wchar_t* lpszCaption = pApp ? pApp->GetAppName() : nullptr;
    return ::MessageBoxW(MessageBoxOwner(), lpszText, lpszCaption, nType);
}
