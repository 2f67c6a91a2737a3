#pragma once

// Thin owners of GDI objects for this program's dialog framework. Each releases what it created
// or obtained when it goes; a CDC made from a handle it was given releases nothing.
#include <windows.h>

class CWnd;

class CBitmap {
  public:
    CBitmap() = default;
    ~CBitmap();
    CBitmap(const CBitmap&) = delete;
    CBitmap& operator=(const CBitmap&) = delete;

    BOOL CreateCompatibleBitmap(HDC hDC, int nWidth, int nHeight);
    HBITMAP GetSafeHandle() const { return m_hObject; }

  private:
    HBITMAP m_hObject = nullptr;
};

class CDC {
  public:
    CDC() = default;
    // Borrows hDC (for instance the one a WM_ERASEBKGND carries).
    explicit CDC(HDC hDC) : m_hDC(hDC) {}
    virtual ~CDC();
    CDC(const CDC&) = delete;
    CDC& operator=(const CDC&) = delete;

    // Makes this object own a memory DC compatible with pDC.
    BOOL CreateCompatibleDC(CDC* pDC);

    HDC GetSafeHdc() const { return m_hDC; }
    HGDIOBJ SelectObject(HGDIOBJ hObject) { return ::SelectObject(m_hDC, hObject); }
    int SetBkMode(int nBkMode) { return ::SetBkMode(m_hDC, nBkMode); }
    BOOL BitBlt(int x, int y, int nWidth, int nHeight, CDC* pSrcDC, int xSrc, int ySrc,
                DWORD dwRop) {
        return ::BitBlt(m_hDC, x, y, nWidth, nHeight, pSrcDC->m_hDC, xSrc, ySrc, dwRop);
    }
    BOOL DrawIcon(int x, int y, HICON hIcon) { return ::DrawIcon(m_hDC, x, y, hIcon); }
    // Fills the rectangle with one colour, leaving the DC's background colour as it was.
    void FillSolidRect(const RECT& rect, COLORREF color);

  protected:
    HDC m_hDC = nullptr;

  private:
    bool m_bOwned = false;
};

// The window's paint DC, between BeginPaint and EndPaint.
class CPaintDC : public CDC {
  public:
    explicit CPaintDC(CWnd* pWnd);
    ~CPaintDC() override;

    PAINTSTRUCT m_ps{};

  private:
    HWND m_hWnd;
};

// The window's client-area DC, between GetDC and ReleaseDC.
class CClientDC : public CDC {
  public:
    explicit CClientDC(HWND hWnd);
    ~CClientDC() override;

  private:
    HWND m_hWnd;
};

// An icon loaded at a chosen size, destroyed with its owner.
class CIcon {
  public:
    CIcon(HINSTANCE hInstance, UINT nID, int cx, int cy, UINT fuLoad);
    ~CIcon();
    CIcon(const CIcon&) = delete;
    CIcon& operator=(const CIcon&) = delete;

    operator HICON() const { return m_hIcon; }

  private:
    HICON m_hIcon;
};
