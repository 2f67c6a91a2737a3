#include "ui/setup_dialog.h"

#include "app/message_table.h"
#include "ui/shared_state.h"
#include "base/sleep.h"
#include "download/winhttp_wrapper.h"
#include "ui/framework/message_box.h"
#include "ui/framework/win_app.h"
#include "ui/status_line.h"

#include <windows.h>

#include <commctrl.h>

namespace {

constexpr unsigned kWrapperPollMs = 150;
constexpr unsigned kStatusTickMs = 500;
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

CQervOnlineSetupDlg::CQervOnlineSetupDlg(SetupWorkerEntry pfnWorker, CWnd* pParent)
    : CDialog(IDD_QERVONLINESETUP_DIALOG, pParent),
      m_hIcon(::LoadIconW(AfxGetResourceHandle(), MAKEINTRESOURCEW(IDR_MAINFRAME))),
      m_hSmallIcon(AfxGetInstanceHandle(), IDR_MAINFRAME, 16, 16, LR_LOADTRANSPARENT),
      m_pfnWorker(pfnWorker) {}

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
        case WM_WINDOWPOSCHANGED:
            OnWindowPosChanged(reinterpret_cast<const WINDOWPOS*>(lParam));
            break;
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

// The dialog's texts and its pixel layout, both settled while it initialises.

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

// The dialog as the worker thread sees it. Each call only sends to the dialog's windows or ends
// the modal run, which the dialog's own thread then carries out.

HWND CQervOnlineSetupDlg::MainWindow() { return m_hWnd; }

HWND CQervOnlineSetupDlg::ProgressBar() { return ::GetDlgItem(m_hWnd, IDC_PROGRESS); }

bool CQervOnlineSetupDlg::Hide() {
    m_bHiddenByWorker = true;
    return ::ShowWindow(m_hWnd, SW_HIDE) != FALSE;
}

void CQervOnlineSetupDlg::OnWindowPosChanged(const WINDOWPOS* pPos) {
    if ((pPos->flags & SWP_SHOWWINDOW) != 0 && m_bHiddenByWorker.load()) {
        ::ShowWindow(m_hWnd, SW_HIDE);
    }
}

void CQervOnlineSetupDlg::SetProgress(int percent) {
    ::SendMessageW(ProgressBar(), PBM_SETPOS, static_cast<WPARAM>(percent), 0);
}

void CQervOnlineSetupDlg::SetStatusText(const wchar_t* text) {
    ::SetWindowTextW(::GetDlgItem(m_hWnd, IDC_STATUS_TEXT), text);
}

void CQervOnlineSetupDlg::PauseStatusText() { TheStatusTextGate().Hold(); }

void CQervOnlineSetupDlg::ResumeStatusText() { TheStatusTextGate().Release(); }

int CQervOnlineSetupDlg::ShowMessageBox(const wchar_t* text, UINT flags) {
    return AfxMessageBox(text, flags);
}

unsigned __stdcall StatusTextThread(void* pDialog) {
    HWND hMainWindow = static_cast<CQervOnlineSetupDlg*>(pDialog)->MainWindow();
    HWND hStatusText = ::GetDlgItem(hMainWindow, IDC_STATUS_TEXT);

    WinHttpWrapper* pWrapper = g_pWinHttpWrapper.load();
    while (pWrapper == nullptr) {
        SleepFor(kWrapperPollMs);
        pWrapper = g_pWinHttpWrapper.load();
    }

    StatusTextGate& gate = TheStatusTextGate();
    int nDots = kFirstDotCount;
    for (;;) {
        if (hStatusText != nullptr) {
            // Waits here while the worker holds the line for a notice of its own.
            gate.BeginWrite();
            const std::wstring line =
                ComposeStatusLine(pWrapper->m_dwType.load(), pWrapper->m_dwStatus.load(), nDots);
            ::SetWindowTextW(hStatusText, line.c_str());
            gate.EndWrite();
            nDots = NextDotCount(nDots);
        }
        SleepFor(kStatusTickMs);
    }
}
