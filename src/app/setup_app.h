#pragma once

// The application object of the setup: one copy at a time, running the setup dialog modally.
#include "app/setup_worker.h"
#include "ui/framework/win_app.h"
#include "ui/setup_dialog.h"

// Seen across logon sessions, so that a second copy anywhere on the machine gives way.
constexpr wchar_t kSingleInstanceMutexName[] = L"Global\\QervSetupOnlineMutex";

// True when the process token lists the built-in Administrators group. The group's attributes are
// not looked at, so a deny-only entry counts as membership.
bool IsUserAdmin();

// True when the mutex's owner is the Administrators group, SYSTEM or this process's own user:
// only such a mutex tells of another copy of the setup. Any account can create the name first,
// and a squatter must not stop every later run.
bool IsMutexOwnerTrusted(HANDLE hMutex);

class CQervOnlineSetupApp : public CWinApp {
  public:
    // Initialises the common controls and, unless another copy holds the mutex, runs the dialog.
    // Always FALSE: the process ends when the dialog has.
    BOOL InitInstance() override;

    // The sequence that the dialog starts; the dialog's tests give it one of their own.
    SetupWorkerEntry m_pfnWorker = &SetupWorkerThread;
};
