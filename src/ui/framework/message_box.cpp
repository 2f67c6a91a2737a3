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
    // A box given no icon gets the framework's default one for its buttons.
    if ((nType & MB_ICONMASK) == 0) {
        switch (nType & MB_TYPEMASK) {
            case MB_OK:
            case MB_OKCANCEL:
                nType |= MB_ICONEXCLAMATION;
                break;
            case MB_YESNO:
            case MB_YESNOCANCEL:
                nType |= MB_ICONQUESTION;
                break;
            default:
                break;
        }
    }
    CWinApp* pApp = AfxGetApp();
    const wchar_t* lpszCaption = pApp ? pApp->GetAppName() : nullptr;
    return ::MessageBoxW(MessageBoxOwner(), lpszText, lpszCaption, nType);
}
