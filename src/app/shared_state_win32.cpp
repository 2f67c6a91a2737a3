#include "app/shared_state.h"

std::atomic<int> g_nCancelState{kCancelStateNone};
std::atomic<HANDLE> g_hWorkerThread{nullptr};
std::atomic<HANDLE> g_hStatusThread{nullptr};
std::atomic<WinHttpWrapper*> g_pWinHttpWrapper{nullptr};
