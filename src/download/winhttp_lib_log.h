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
