#pragma once

// The setup's one window: a fixed-size modal dialog with the header picture, the animated status
// line, the progress bar and the cancel button. It starts the status-line thread and the setup
// worker, asks before stopping, and hides itself into the notification area after a while.
#include <windows.h>

#include <shellapi.h>

#include <atomic>
#include <mutex>

#include "ui/framework/dialog.h"
#include "ui/framework/gdi.h"
#include "ui/resource.h"
#include "ui/setup_dialog_view.h"
#include "ui/transparent_static.h"

// The tray icon's callback message, the dialog's only message of its own.
constexpr UINT WM_TRAY_NOTIFY = WM_USER + 1000;

// The tray icon's identifier: any constant serves, as long as every call on the icon uses it.
constexpr UINT kTrayIconId = 1;

// How long the dialog stays shown before it goes to the tray, and the tray animation's period.
constexpr UINT_PTR IDT_HIDE_TO_TRAY = 1000;
constexpr UINT kHideToTrayMs = 40000;
constexpr UINT_PTR IDT_TRAY_ANIMATION = 1001;
constexpr UINT kTrayAnimationMs = 1000;

// The setup sequence that the dialog starts on a thread of its own once it is initialised; it is
// given the dialog as its SetupDialogView.
using SetupWorkerEntry = unsigned(__stdcall*)(void* pDialog);

class CQervOnlineSetupDlg : public CDialog, public SetupDialogView {
  public:
    explicit CQervOnlineSetupDlg(SetupWorkerEntry pfnWorker, CWnd* pParent = nullptr);
    ~CQervOnlineSetupDlg() override;

    // The dialog as the worker thread sees it; every call is safe from other threads.
    HWND MainWindow() override;
    HWND ProgressBar() override;
    bool Hide() override;
    void SetProgress(int percent) override;
    void SetStatusText(const wchar_t* text) override;
    void PauseStatusText() override;
    void ResumeStatusText() override;
    int ShowMessageBox(const wchar_t* text, UINT flags) override;
    void RemoveTrayIcon() override;
    // Closes both thread handles (they keep running) and ends the modal run with 0.
    void EndSetupDialog() override;

  protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) override;

  private:
    // Initialisation.
    void ApplyDialogTexts();
    void ApplyDialogLayout();
    void StartSetupThreads();

    // Message handlers.
    void OnPaint();
    HCURSOR OnQueryDragIcon();
    void OnCancelButton();
    void OnSysCommand(UINT nID);
    void OnWindowPosChanged(const WINDOWPOS* pPos);
    BOOL OnEraseBkgnd(CDC* pDC);
    void OnTimer(UINT_PTR nIDEvent);
    LRESULT OnTrayNotify(WPARAM wParam, LPARAM lParam);

    // Asks whether to stop; on Yes ends the dialog after dwDelayMs.
    void ConfirmStop(UINT nIconStyle, unsigned dwDelayMs);

    // Tray icon.
    BOOL InitTrayIcon();
    void HideToTray();
    void AnimateTrayIcon();

    HICON m_hIcon;
    CIcon m_hSmallIcon;
    CTransparentStatic2 m_statusText;
    SetupWorkerEntry m_pfnWorker;
    BOOL m_bInTray = FALSE;
    // The icon is added on the UI thread and taken away for good from whichever thread ends the
    // process; the lock keeps a hide that is under way from adding it back after that.
    std::mutex m_trayLock;
    bool m_bTrayClosed = false;
    NOTIFYICONDATAW m_nid{};
    int m_nTrayFrame = 0;
    // Set by the worker's hide, cleared when the user brings the dialog back from the tray. The
    // dialog manager shows a modal dialog once its queue first runs empty, which may come after a
    // hidden run's worker has hidden it; while this is set, such a show is undone at once.
    std::atomic<bool> m_bHiddenByWorker{false};
};

// The status-line thread: from the moment the worker has made the download object, it rewrites
// the dialog's status line every 500 ms with the connection type, the download stage and one to
// three dots. pDialog is the CQervOnlineSetupDlg; the thread runs until the process ends.
unsigned __stdcall StatusTextThread(void* pDialog);
