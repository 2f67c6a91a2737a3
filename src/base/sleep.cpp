#include "base/sleep.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace {
std::atomic<SleepFunction> g_sleep{nullptr};
}

void SleepFor(unsigned milliseconds) {
    if (SleepFunction replacement = g_sleep.load()) {
        replacement(milliseconds);
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void SetSleepFunction(SleepFunction function) { g_sleep.store(function); }
