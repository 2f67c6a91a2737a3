#pragma once

// Values that the dialog's threads (the UI thread and the status-line thread) share with the
// worker. Each has one writer at a time; atomics keep the reads and writes whole without a lock.
// They live in app/setup_app.cpp; the download code is handed what it needs instead.
#include <windows.h>

#include <atomic>

class WinHttpWrapper;

// The stop request, written by the dialog (asked, confirmed) and by the worker (past its stop
// point).
constexpr int kCancelStateNone = 0;
constexpr int kCancelStateAsked = 1;
constexpr int kCancelStateConfirmed = 2;
constexpr int kCancelStatePastStopPoint = 3;
extern std::atomic<int> g_nCancelState;

extern std::atomic<HANDLE> g_hWorkerThread;
extern std::atomic<HANDLE> g_hStatusThread;

// The one download object, created by the worker and never freed; the status line polls for it.
extern std::atomic<WinHttpWrapper*> g_pWinHttpWrapper;
