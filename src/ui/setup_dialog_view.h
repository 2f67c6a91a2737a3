#pragma once

// The setup dialog as the worker thread sees it. Every call is safe from a thread other than the
// dialog's own: the real dialog forwards to SendMessageW, SetWindowTextW, ShowWindow and EndDialog;
// tests record the calls.
#include <windows.h>

class SetupDialogView {
  public:
    virtual ~SetupDialogView() = default;

    // The main window, or null when there is none.
    virtual HWND MainWindow() = 0;
    // The progress bar (control 1003), which the download code moves with PBM_SETPOS.
    virtual HWND ProgressBar() = 0;
    // ShowWindow(SW_HIDE); true when the window was visible before.
    virtual bool Hide() = 0;
    // PBM_SETPOS on the progress bar.
    virtual void SetProgress(int percent) = 0;
    // SetWindowTextW on the status line (control 1007).
    virtual void SetStatusText(const wchar_t* text) = 0;
    // Stops the status-line animation after its current write, and lets it go on again. Used
    // around the worker's own notices, so that the two writers never interleave.
    virtual void PauseStatusText() = 0;
    virtual void ResumeStatusText() = 0;
    // A box captioned with the application name; gives the button pressed.
    virtual int ShowMessageBox(const wchar_t* text, UINT flags) = 0;
    // Closes both thread handles and ends the modal run with 0.
    virtual void EndSetupDialog() = 0;
    // Takes the tray icon out of the notification area for good, before the process ends.
    virtual void RemoveTrayIcon() = 0;
};
