#pragma once

// The application object of the setup: one copy at a time, running the setup dialog modally.
#include "app/setup_worker.h"
#include "ui/framework/win_app.h"
#include "ui/setup_dialog.h"

// Seen across logon sessions, so that a second copy anywhere on the machine gives way.
constexpr wchar_t kSingleInstanceMutexName[] = L"Global\\QervSetupOnlineMutex";

class CQervOnlineSetupApp : public CWinApp {
  public:
    // Initialises the common controls and, unless another copy holds the mutex, runs the dialog.
    // Always FALSE: the process ends when the dialog has.
    BOOL InitInstance() override;

    // The sequence that the dialog starts; the dialog's tests give it one of their own.
    SetupWorkerEntry m_pfnWorker = &SetupWorkerThread;
};
