#pragma once

// The application object of the setup: one copy at a time, running the setup dialog modally.
#include "ui/framework/win_app.h"

// Seen across logon sessions, so that a second copy anywhere on the machine gives way.
constexpr wchar_t kSingleInstanceMutexName[] = L"Global\\QervSetupOnlineMutex";

class CQervOnlineSetupApp : public CWinApp {
  public:
    // Initialises the common controls and, unless another copy holds the mutex, runs the dialog.
    // Always FALSE: the process ends when the dialog has.
    BOOL InitInstance() override;
};
