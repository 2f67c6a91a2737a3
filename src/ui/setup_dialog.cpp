#include "ui/setup_dialog.h"

#include "app/message_table.h"
#include "app/shared_state.h"
#include "base/sleep.h"
#include "ui/framework/win_app.h"

namespace {

constexpr COLORREF kBackgroundColor = RGB(255, 255, 255);
// Yes to the close command ends the dialog this much later than Yes to the button.
constexpr unsigned kCloseConfirmDelayMs = 200;

void CloseThreadHandle(std::atomic<HANDLE>& hThread) {
    // Exchanged, so that the cancel handler and the worker ending the dialog at the same time
    // close each handle once.
    if (HANDLE hClosing = hThread.exchange(nullptr)) {
        ::CloseHandle(hClosing);
    }
}

}  // namespace

CQervOnlineSetupDlg::CQervOnlineSetupDlg(CWnd* pParent)
    : CDialog(IDD_QERVONLINESETUP_DIALOG, pParent),
      m_hIcon(::LoadIconW(AfxGetResourceHandle(), MAKEINTRESOURCEW(IDR_MAINFRAME))),
      m_hSmallIcon(AfxGetInstanceHandle(), IDR_MAINFRAME, 16, 16, LR_LOADTRANSPARENT) {}

CQervOnlineSetupDlg::~CQervOnlineSetupDlg() { RemoveTrayIcon(); }

void CQervOnlineSetupDlg::RemoveTrayIcon() {
    const std::lock_guard<std::mutex> lock(m_trayLock);
    m_bTrayClosed = true;
    // Asked of the shell whatever this thread knows of the icon: the UI thread may have added it
    // a moment ago. Deleting an icon that is not there does nothing.
    NOTIFYICONDATAW nid = {};
    nid.cbSize = sizeof(nid);
    // The window that the icon was registered with: after the modal run m_hWnd is gone.
    nid.hWnd = m_nid.hWnd;
    nid.uID = kTrayIconId;
    if (nid.hWnd == nullptr) return;
    ::Shell_NotifyIconW(NIM_DELETE, &nid);
}

void CQervOnlineSetupDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_STATUS_TEXT, m_statusText);
}

BOOL CQervOnlineSetupDlg::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
    switch (message) {
        case WM_PAINT:
            OnPaint();
            *pResult = 0;
            return TRUE;
        case WM_QUERYDRAGICON:
            *pResult = reinterpret_cast<LRESULT>(OnQueryDragIcon());
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDC_CANCEL_BUTTON && HIWORD(wParam) == BN_CLICKED) {
                OnCancelButton();
                *pResult = 0;
                return TRUE;
            }
            break;
        case WM_SYSCOMMAND:
            OnSysCommand(static_cast<UINT>(wParam));
            *pResult = 0;
            return TRUE;
        case WM_ERASEBKGND: {
            CDC dc(reinterpret_cast<HDC>(wParam));
            *pResult = OnEraseBkgnd(&dc);
            return TRUE;
        }
        case WM_TIMER:
            OnTimer(wParam);
            *pResult = 0;
            return TRUE;
        case WM_TRAY_NOTIFY:
            *pResult = OnTrayNotify(wParam, lParam);
            return TRUE;
        default:
            break;
    }
    return CDialog::OnWndMsg(message, wParam, lParam, pResult);
}

void CQervOnlineSetupDlg::OnPaint() {
    if (!::IsIconic(m_hWnd)) {
        Default();
        return;
    }
    // Minimised: the large icon, centred in the client area.
    CPaintDC dc(this);
    ::SendMessageW(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
    RECT rect;
    ::GetClientRect(m_hWnd, &rect);
    int x = (rect.right - rect.left - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
    int y = (rect.bottom - rect.top - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
    dc.DrawIcon(x, y, m_hIcon);
}

HCURSOR CQervOnlineSetupDlg::OnQueryDragIcon() { return static_cast<HCURSOR>(m_hIcon); }

void CQervOnlineSetupDlg::OnCancelButton() { ConfirmStop(MB_ICONINFORMATION, 0); }

void CQervOnlineSetupDlg::OnSysCommand(UINT nID) {
    if (nID == SC_CLOSE) {
        ConfirmStop(MB_ICONQUESTION, kCloseConfirmDelayMs);
        return;
    }
    Default();
}

BOOL CQervOnlineSetupDlg::OnEraseBkgnd(CDC* pDC) {
    RECT rect;
    ::GetClientRect(m_hWnd, &rect);
    pDC->FillSolidRect(rect, kBackgroundColor);
    return TRUE;
}

void CQervOnlineSetupDlg::ConfirmStop(UINT nIconStyle, unsigned dwDelayMs) {
    // The worker waits at its stop point while the question is open.
    g_nCancelState = kCancelStateAsked;
    const std::wstring text = GetMessageText(kMsgStopQuestion);
    if (::MessageBoxW(m_hWnd, text.c_str(), kInstallationCaption, MB_YESNO | nIconStyle) != IDYES) {
        g_nCancelState = kCancelStateNone;
        return;
    }
    g_nCancelState = kCancelStateConfirmed;
    if (dwDelayMs != 0) {
        SleepFor(dwDelayMs);
    }
    EndSetupDialog();
}

void CQervOnlineSetupDlg::EndSetupDialog() {
    CloseThreadHandle(g_hStatusThread);
    CloseThreadHandle(g_hWorkerThread);
    EndDialog(0);
}
