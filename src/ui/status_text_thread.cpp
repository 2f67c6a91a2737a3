#include "ui/status_text_thread.h"

#include "app/shared_state.h"
#include "base/sleep.h"
#include "download/winhttp_wrapper.h"
#include "ui/setup_dialog.h"
#include "ui/status_line.h"
#include "ui/status_text_gate.h"

namespace {

constexpr unsigned kWrapperPollMs = 150;
constexpr unsigned kStatusTickMs = 500;

}  // namespace

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
