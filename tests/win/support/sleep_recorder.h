#pragma once

// Collects the waits asked for through SleepFor while it lives, from any thread, and then returns
// at once (time compressed), yields, or really waits, as the test says. One recorder at a time.
#include <windows.h>

#include <functional>
#include <map>
#include <mutex>
#include <vector>

#include "base/sleep.h"

namespace testsupport {

class SleepRecorder {
  public:
    enum class Then { kReturn, kYield, kSleep };
    explicit SleepRecorder(Then then = Then::kReturn) : m_then(then) {
        Current() = this;
        SetSleepFunction(&SleepRecorder::Record);
    }
    ~SleepRecorder() {
        SetSleepFunction(nullptr);
        Current() = nullptr;
    }
    SleepRecorder(const SleepRecorder&) = delete;
    SleepRecorder& operator=(const SleepRecorder&) = delete;

    void SetThen(Then then) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_then = then;
    }
    // Called with the number of waits so far after each one.
    void SetAfterWait(std::function<void(std::size_t)> afterWait) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_afterWait = std::move(afterWait);
    }
    // Every thread's waits, in the order asked.
    std::vector<unsigned> Waits() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_waits;
    }
    std::vector<unsigned> WaitsOf(DWORD dwThreadId) const {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto found = m_byThread.find(dwThreadId);
        return found == m_byThread.end() ? std::vector<unsigned>() : found->second;
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_waits.clear();
        m_byThread.clear();
    }

  private:
    static SleepRecorder*& Current() {
        static SleepRecorder* recorder = nullptr;
        return recorder;
    }
    static void Record(unsigned milliseconds) {
        SleepRecorder* recorder = Current();
        if (recorder == nullptr) return;
        Then then;
        std::function<void(std::size_t)> afterWait;
        std::size_t nWaits;
        {
            std::lock_guard<std::mutex> lock(recorder->m_mutex);
            recorder->m_waits.push_back(milliseconds);
            recorder->m_byThread[GetCurrentThreadId()].push_back(milliseconds);
            then = recorder->m_then;
            afterWait = recorder->m_afterWait;
            nWaits = recorder->m_waits.size();
        }
        if (then == Then::kYield) Sleep(1);
        if (then == Then::kSleep) Sleep(milliseconds);
        if (afterWait) afterWait(nWaits);
    }

    mutable std::mutex m_mutex;
    Then m_then;
    std::function<void(std::size_t)> m_afterWait;
    std::vector<unsigned> m_waits;
    std::map<DWORD, std::vector<unsigned>> m_byThread;
};

}  // namespace testsupport
