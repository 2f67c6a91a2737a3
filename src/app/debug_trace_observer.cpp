#include "app/debug_trace.h"

#include "app/debug_trace_internal.h"

#include <atomic>

namespace {
std::atomic<DebugTraceObserver> g_observer{nullptr};
}

void SetDebugTraceObserver(DebugTraceObserver observer) { g_observer.store(observer); }

void NotifyDebugTraceObserver(const wchar_t* line) {
    if (DebugTraceObserver observer = g_observer.load()) observer(line);
}
