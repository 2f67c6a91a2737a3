#include "ui/framework/wnd.h"

namespace {

// The window property that leads from a window handle to its object.
constexpr wchar_t kWndObjectProperty[] = L"QervFrameworkWnd";

bool IsCtlColorMessage(UINT message) {
    return message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC;
}

}  // namespace

CWnd::~CWnd() {
    if (m_hWnd.load() != nullptr) {
        Detach();
    }
}

CWnd* CWnd::FromHandlePermanent(HWND hWnd) {
    return hWnd ? static_cast<CWnd*>(::GetPropW(hWnd, kWndObjectProperty)) : nullptr;
}

BOOL CWnd::SubclassWindow(HWND hWnd) {
    if (hWnd == nullptr || m_hWnd.load() != nullptr || FromHandlePermanent(hWnd) != nullptr) {
        return FALSE;
    }
    if (!::SetPropW(hWnd, kWndObjectProperty, this)) {
        return FALSE;
    }
    m_hWnd = hWnd;
    m_pfnSuper = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CWnd::WindowProc)));
    return TRUE;
}

void CWnd::Detach() {
    HWND hWnd = m_hWnd.exchange(nullptr);
    ::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuper));
    ::RemovePropW(hWnd, kWndObjectProperty);
}

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
    if (IsCtlColorMessage(message)) {
        CWnd* pChild = FromHandlePermanent(reinterpret_cast<HWND>(lParam));
        if (pChild != nullptr && pChild != this) {
            return pChild->OnWndMsg(WM_REFLECT_BASE + message, wParam, lParam, pResult);
        }
    }
    return FALSE;
}

LRESULT CWnd::Default() {
    return ::CallWindowProcW(m_pfnSuper, m_hWnd, m_current.message, m_current.wParam,
                             m_current.lParam);
}

LRESULT CALLBACK CWnd::WindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CWnd* pWnd = FromHandlePermanent(hWnd);
    if (pWnd == nullptr) {
        return ::DefWindowProcW(hWnd, message, wParam, lParam);
    }
    if (message == WM_NCDESTROY) {
        // The last message: the window goes back to its own procedure and forgets the object.
        WNDPROC pfnSuper = pWnd->m_pfnSuper;
        pWnd->Detach();
        return ::CallWindowProcW(pfnSuper, hWnd, message, wParam, lParam);
    }
    // Messages nest (a handler's SendMessage comes back here), so the current one is restored.
    Message saved = pWnd->m_current;
    pWnd->m_current = {message, wParam, lParam};
    LRESULT result = 0;
    if (!pWnd->OnWndMsg(message, wParam, lParam, &result)) {
        result = pWnd->Default();
    }
    pWnd->m_current = saved;
    return result;
}
