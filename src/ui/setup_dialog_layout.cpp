// The dialog's texts and its pixel layout, both settled while it initialises.
#include "app/message_table.h"
#include "ui/setup_dialog.h"

namespace {

// The window's outer size; its position stays where the dialog manager put it.
constexpr int kDialogWidth = 493;
constexpr int kDialogHeight = 241;

struct ControlPlace {
    int nID;
    int x;
    int y;
    int cx;
    int cy;
};

// Fixed pixel rectangles in place of the template's dialog units. The header is as large as its
// bitmap, so the picture is shown unscaled.
constexpr ControlPlace kControlPlaces[] = {
    {IDC_STATIC, 0, 0, 493, 58},
    {IDC_STATUS_TEXT, 26, 81, 442, 30},
    {IDC_PROGRESS, 26, 115, 442, 25},
    {IDC_CANCEL_BUTTON, 386, 166, 82, 27},
};

}  // namespace

void CQervOnlineSetupDlg::ApplyDialogTexts() {
    ::SetDlgItemTextW(m_hWnd, IDC_STATUS_TEXT, L"");
    ::SetDlgItemTextW(m_hWnd, IDC_CANCEL_BUTTON, GetMessageText(kMsgCancel).c_str());
    ::SetWindowTextW(m_hWnd, kInstallationCaption);
}

void CQervOnlineSetupDlg::ApplyDialogLayout() {
    ::SetWindowPos(m_hWnd, nullptr, 0, 0, kDialogWidth, kDialogHeight, SWP_NOMOVE | SWP_NOZORDER);
    for (const ControlPlace& place : kControlPlaces) {
        ::SetWindowPos(::GetDlgItem(m_hWnd, place.nID), nullptr, place.x, place.y, place.cx,
                       place.cy, SWP_NOZORDER);
    }
}
