#pragma once

#include "base/test_hooks.h"

// One formatted line to the debugger output (OutputDebugStringW on Windows), no line end added.
// Windows builds keep the Microsoft convention, where %s takes a wide string; portable code never
// passes a string to %s, since the host's C library reads %s as narrow.
void DebugTrace(const wchar_t* format, ...);

// Lines longer than this are cut to fit instead of ending the process.
constexpr int kDebugTraceChars = 4096;

// Tests watch the trace lines through SetDebugTraceObserver.
