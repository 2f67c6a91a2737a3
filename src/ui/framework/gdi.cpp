#include "ui/framework/gdi.h"

#include "ui/framework/wnd.h"

CBitmap::~CBitmap() {
    if (m_hObject != nullptr) {
        ::DeleteObject(m_hObject);
    }
}

BOOL CBitmap::CreateCompatibleBitmap(HDC hDC, int nWidth, int nHeight) {
    if (m_hObject != nullptr) {
        ::DeleteObject(m_hObject);
    }
    m_hObject = ::CreateCompatibleBitmap(hDC, nWidth, nHeight);
    return m_hObject != nullptr;
}

CDC::~CDC() {
    if (m_bOwned && m_hDC != nullptr) {
        ::DeleteDC(m_hDC);
    }
}

BOOL CDC::CreateCompatibleDC(CDC* pDC) {
    if (m_bOwned && m_hDC != nullptr) {
        ::DeleteDC(m_hDC);
    }
    m_hDC = ::CreateCompatibleDC(pDC ? pDC->m_hDC : nullptr);
    m_bOwned = m_hDC != nullptr;
    return m_bOwned;
}

void CDC::FillSolidRect(const RECT& rect, COLORREF color) {
    COLORREF previous = ::SetBkColor(m_hDC, color);
    ::ExtTextOutW(m_hDC, 0, 0, ETO_OPAQUE, &rect, nullptr, 0, nullptr);
    ::SetBkColor(m_hDC, previous);
}

CPaintDC::CPaintDC(CWnd* pWnd) : m_hWnd(pWnd->GetSafeHwnd()) {
    m_hDC = ::BeginPaint(m_hWnd, &m_ps);
}

CPaintDC::~CPaintDC() { ::EndPaint(m_hWnd, &m_ps); }

CClientDC::CClientDC(HWND hWnd) : m_hWnd(hWnd) { m_hDC = ::GetDC(hWnd); }

CClientDC::~CClientDC() {
    if (m_hDC != nullptr) {
        ::ReleaseDC(m_hWnd, m_hDC);
    }
}

CIcon::CIcon(HINSTANCE hInstance, UINT nID, int cx, int cy, UINT fuLoad)
    : m_hIcon(static_cast<HICON>(
          ::LoadImageW(hInstance, MAKEINTRESOURCEW(nID), IMAGE_ICON, cx, cy, fuLoad))) {}

CIcon::~CIcon() {
    if (m_hIcon != nullptr) {
        ::DestroyIcon(m_hIcon);
    }
}
