#include "app/debug_trace.h"

#include "app/debug_trace_internal.h"
#include "base/last_error_keeper.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>

void DebugTrace(const wchar_t* format, ...) {
    if (format == nullptr) return;
    // Traces such as "szFileSavePath 2.1: %d" pass GetLastError of the step before; a trace
    // between that step and a later read of the code must leave it as it was.
    LastErrorKeeper keeper;
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
