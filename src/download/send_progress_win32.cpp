#include "download/send_progress.h"

#include <commctrl.h>

#include <cstdint>

#include "download/winhttp_rules.h"

void SendProgress(int nTotal, int nReceived, HWND hWndProgress) {
    std::int32_t position = 0;
    if (!ProgressPosition(nTotal, nReceived, &position)) return;
    SendMessageW(hWndProgress, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}
