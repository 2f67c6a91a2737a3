#pragma once

// Window objects of this program's dialog framework. A CWnd is attached to an existing window by
// subclassing it; the window's messages then reach the object's OnWndMsg (its message map), and
// whatever that leaves is passed to the window's original procedure.
#include <windows.h>

#include <atomic>

// Reflected notifications arrive in the child's message map as this base plus the message.
constexpr UINT WM_REFLECT_BASE = 0xBC00;

class CWnd {
  public:
    CWnd() = default;
    virtual ~CWnd();
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    // The object attached to hWnd, or null.
    static CWnd* FromHandlePermanent(HWND hWnd);

    // Attaches this object to hWnd (which must have none yet) until the window is destroyed.
    BOOL SubclassWindow(HWND hWnd);

    HWND GetSafeHwnd() const { return m_hWnd.load(); }

    // Read by other threads (message-box owner, the dialog's worker-side calls), hence atomic.
    std::atomic<HWND> m_hWnd{nullptr};

  protected:
    // The message map: handles the message and sets *pResult, or gives FALSE for the default
    // processing. The base reflects WM_CTLCOLOR* notifications to the child that sent them.
    virtual BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);

    // The original window procedure's processing of the message being handled.
    LRESULT Default();

  private:
    struct Message {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    };

    static LRESULT CALLBACK WindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
    void Detach();

    WNDPROC m_pfnSuper = nullptr;
    Message m_current{};
};

// A static control; the transparent status text derives from it.
class CStatic : public CWnd {};
