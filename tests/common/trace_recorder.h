#pragma once

// Collects the DebugTrace lines sent while it lives, from whichever thread they come, with the
// time each came. One recorder at a time.
#include <algorithm>
#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "base/debug_trace.h"

namespace testsupport {

// Milliseconds of a steady clock: the clock of TraceRecorder::TimeOf.
inline unsigned long long SteadyMs() {
    return static_cast<unsigned long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                               std::chrono::steady_clock::now().time_since_epoch())
                                               .count());
}

class TraceRecorder {
  public:
    TraceRecorder() {
        Current() = this;
        SetDebugTraceObserver(&TraceRecorder::Record);
    }
    ~TraceRecorder() {
        SetDebugTraceObserver(nullptr);
        Current() = nullptr;
    }
    TraceRecorder(const TraceRecorder&) = delete;
    TraceRecorder& operator=(const TraceRecorder&) = delete;

    std::vector<std::wstring> Lines() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_lines;
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lines.clear();
        m_times.clear();
    }
    int Count(const std::wstring& line) const {
        const std::vector<std::wstring> lines = Lines();
        return static_cast<int>(std::count(lines.begin(), lines.end(), line));
    }
    // The lines that start with prefix, in order.
    std::vector<std::wstring> Starting(const std::wstring& prefix) const {
        std::vector<std::wstring> found;
        for (const std::wstring& line : Lines()) {
            if (line.rfind(prefix, 0) == 0) found.push_back(line);
        }
        return found;
    }
    // When the first line equal to line came, in SteadyMs (0: never).
    unsigned long long TimeOf(const std::wstring& line) const {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (std::size_t i = 0; i < m_lines.size(); ++i) {
            if (m_lines[i] == line) return m_times[i];
        }
        return 0;
    }

  private:
    static TraceRecorder*& Current() {
        static TraceRecorder* recorder = nullptr;
        return recorder;
    }
    static void Record(const wchar_t* line) {
        TraceRecorder* recorder = Current();
        if (recorder == nullptr) return;
        std::lock_guard<std::mutex> lock(recorder->m_mutex);
        recorder->m_lines.push_back(line);
        recorder->m_times.push_back(SteadyMs());
    }

    mutable std::mutex m_mutex;
    std::vector<std::wstring> m_lines;
    std::vector<unsigned long long> m_times;
};

}  // namespace testsupport
