#pragma once

// A static text control with no background of its own: its text is drawn over the parent's pixels
// behind it. The parent's background is captured at the first erase and put back on every later
// one, so a new text never shows remains of the old.
#include <windows.h>

#include "ui/framework/gdi.h"
#include "ui/framework/wnd.h"

class CTransparentStatic2 : public CStatic {
  protected:
    BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) override;

  private:
    LRESULT OnSetText(WPARAM wParam, LPARAM lParam);
    HBRUSH CtlColor(CDC* pDC, UINT nCtlColor);
    BOOL OnEraseBkgnd(CDC* pDC);

    void CaptureParentBackground();

    // The parent's pixels behind the control, from the first erase on.
    CBitmap m_bmpBackground;
};
