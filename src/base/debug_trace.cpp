#include "base/debug_trace.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cwchar>

#ifdef _WIN32
#include <windows.h>

#include "base/last_error_keeper.h"
#else
#include <cstdlib>
#endif

namespace {

std::atomic<DebugTraceObserver> g_observer{nullptr};

void NotifyObserver(const wchar_t* line) {
    if (DebugTraceObserver observer = g_observer.load()) observer(line);
}

}  // namespace

void SetDebugTraceObserver(DebugTraceObserver observer) { g_observer.store(observer); }

#ifdef _WIN32

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
    NotifyObserver(line);
}

#else

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
    NotifyObserver(line);
}

#endif
