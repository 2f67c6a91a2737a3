#pragma once

// The progress bar, as both download paths move it.
#include <windows.h>

// Moves the progress bar hWndProgress (range 0 to 100) to the position that ProgressPosition
// gives for nReceived of nTotal bytes, with PBM_SETPOS sent from the calling thread. Nothing is
// sent for a total of 0.
void SendProgress(int nTotal, int nReceived, HWND hWndProgress);
