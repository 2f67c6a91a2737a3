#include "ui/transparent_static.h"

BOOL CTransparentStatic2::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
    switch (message) {
        case WM_SETTEXT:
            *pResult = OnSetText(wParam, lParam);
            return TRUE;
        case WM_REFLECT_BASE + WM_CTLCOLORSTATIC: {
            CDC dc(reinterpret_cast<HDC>(wParam));
            *pResult = reinterpret_cast<LRESULT>(CtlColor(&dc, CTLCOLOR_STATIC));
            return TRUE;
        }
        case WM_ERASEBKGND: {
            CDC dc(reinterpret_cast<HDC>(wParam));
            *pResult = OnEraseBkgnd(&dc);
            return TRUE;
        }
        default:
            return CStatic::OnWndMsg(message, wParam, lParam, pResult);
    }
}

LRESULT CTransparentStatic2::OnSetText(WPARAM, LPARAM) {
    // Text changes come from other threads twice a second; repainting inside the message means
    // the sender's SetWindowTextW returns with the new text on screen.
    LRESULT result = Default();
    ::InvalidateRect(m_hWnd, nullptr, TRUE);
    ::UpdateWindow(m_hWnd);
    return result;
}

HBRUSH CTransparentStatic2::CtlColor(CDC* pDC, UINT) {
    pDC->SetBkMode(TRANSPARENT);
    return static_cast<HBRUSH>(::GetStockObject(NULL_BRUSH));
}

BOOL CTransparentStatic2::OnEraseBkgnd(CDC* pDC) {
    if (m_bmpBackground.GetSafeHandle() == nullptr) {
        // The first erase only takes the copy; the text then goes straight over the parent.
        CaptureParentBackground();
        return TRUE;
    }
    RECT rect;
    ::GetClientRect(m_hWnd, &rect);
    CDC memDC;
    memDC.CreateCompatibleDC(pDC);
    HGDIOBJ hOldBitmap = memDC.SelectObject(m_bmpBackground.GetSafeHandle());
    pDC->BitBlt(0, 0, rect.right - rect.left, rect.bottom - rect.top, &memDC, 0, 0, SRCCOPY);
    memDC.SelectObject(hOldBitmap);
    return TRUE;
}

void CTransparentStatic2::CaptureParentBackground() {
    HWND hParent = ::GetParent(m_hWnd);
    RECT rect;
    ::GetWindowRect(m_hWnd, &rect);
    ::MapWindowPoints(nullptr, hParent, reinterpret_cast<POINT*>(&rect), 2);

    CClientDC parentDC(hParent);
    CDC memDC;
    memDC.CreateCompatibleDC(&parentDC);
    int nWidth = rect.right - rect.left;
    int nHeight = rect.bottom - rect.top;
    m_bmpBackground.CreateCompatibleBitmap(parentDC.GetSafeHdc(), nWidth, nHeight);
    HGDIOBJ hOldBitmap = memDC.SelectObject(m_bmpBackground.GetSafeHandle());
    memDC.BitBlt(0, 0, nWidth, nHeight, &parentDC, rect.left, rect.top, SRCCOPY);
    memDC.SelectObject(hOldBitmap);
}
