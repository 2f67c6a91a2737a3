#pragma once

// Shared by the platform back ends of DebugTrace.
void NotifyDebugTraceObserver(const wchar_t* line);
