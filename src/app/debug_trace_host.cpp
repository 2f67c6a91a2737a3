#include "app/debug_trace.h"

#include "app/debug_trace_internal.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cwchar>

// On the host there is no debugger output: lines go to the observer, and to stderr when
// QERV_TRACE is set.
void DebugTrace(const wchar_t* format, ...) {
    if (format == nullptr) return;
    wchar_t line[kDebugTraceChars] = {};
    va_list args;
    va_start(args, format);
    vswprintf(line, kDebugTraceChars, format, args);
    va_end(args);
    line[kDebugTraceChars - 1] = L'\0';
    if (std::getenv("QERV_TRACE")) std::fwprintf(stderr, L"%ls\n", line);
    NotifyDebugTraceObserver(line);
}
