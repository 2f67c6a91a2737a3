#pragma once

// The download trace log: the WinHTTP download writes one line per step to a fixed file that
// accumulates across runs, so that a failed download can be diagnosed afterwards. Failures to
// write are silent, and the thread's last error code is left as it was.
constexpr wchar_t kWinHTTPLibLogPath[] = L"C:\\WinHTTPLib.log";

// Formats a message (Microsoft conventions: %s takes a wide string) and logs it as one line. A
// message that does not fit in kLogMessageChars - 1 characters is dropped.
void WinHTTPLibLog(const wchar_t* format, ...);

// Appends szMessage and a line end to the log, unless it has kLogMessageChars characters or more.
void WinHTTPLibLogLine(const wchar_t* szMessage);

// Keeps the log open for this thread while it lives, for the lines of one download call: opened
// and checked once, shared for reading and writing, each line still written through at once.
// Without one, each line opens and closes the log by itself.
class WinHTTPLibLogHold {
  public:
    WinHTTPLibLogHold();
    ~WinHTTPLibLogHold();
    WinHTTPLibLogHold(const WinHTTPLibLogHold&) = delete;
    WinHTTPLibLogHold& operator=(const WinHTTPLibLogHold&) = delete;

  private:
    bool m_bOwner = false;
};
