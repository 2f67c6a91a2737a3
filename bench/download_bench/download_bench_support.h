#pragma once

// The bench's surroundings of a download: a progress bar on a thread of its own, as the dialog
// has it, and the download trace log's lines.
#include <windows.h>

#include <string>
#include <vector>

// A hidden progress bar owned by a thread that pumps its messages, so that PBM_SETPOS from the
// download costs a cross-thread SendMessageW, as it does in the program.
class ProgressBarThread {
  public:
    ProgressBarThread();
    ~ProgressBarThread();
    ProgressBarThread(const ProgressBarThread&) = delete;
    ProgressBarThread& operator=(const ProgressBarThread&) = delete;

    HWND window() const { return m_hWnd; }

  private:
    static DWORD WINAPI Run(LPVOID pParam);

    HANDLE m_hReady = nullptr;
    HANDLE m_hThread = nullptr;
    DWORD m_dwThreadId = 0;
    HWND m_hWnd = nullptr;
};

// The size of the download trace log now, to read what a run appends to it.
unsigned long long LogSize();
// The lines appended to the log since it had nSince bytes.
std::vector<std::wstring> LogLinesSince(unsigned long long nSince);
// Appends the lines to the log again, one WinHTTPLibLogLine call each; gives the seconds taken.
double ReplayLogLines(const std::vector<std::wstring>& lines);

// Replaces the log with a folder of its name while it lives, so that no line can be written.
class LogMadeUnwritable {
  public:
    LogMadeUnwritable();
    ~LogMadeUnwritable();
    LogMadeUnwritable(const LogMadeUnwritable&) = delete;
    LogMadeUnwritable& operator=(const LogMadeUnwritable&) = delete;

    bool active() const { return m_bActive; }

  private:
    bool m_bMovedAside = false;
    bool m_bActive = false;
};

// Seconds since an arbitrary start, from the performance counter.
double Seconds();
