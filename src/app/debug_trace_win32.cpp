#include "app/debug_trace.h"

#include "app/debug_trace_internal.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>

void DebugTrace(const wchar_t* format, ...) {
    if (format == nullptr) return;
    // Cleared, so that a conversion that fails half-way still leaves a defined line.
    wchar_t line[kDebugTraceChars] = {};
    va_list args;
    va_start(args, format);
    // _vsnwprintf cuts an overlong line (and then leaves it unterminated) instead of calling the
    // invalid-parameter handler as vswprintf_s would.
    _vsnwprintf(line, kDebugTraceChars - 1, format, args);
    va_end(args);
    line[kDebugTraceChars - 1] = L'\0';
    OutputDebugStringW(line);
    NotifyDebugTraceObserver(line);
}
