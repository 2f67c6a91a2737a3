#pragma once

// One download attempt in fake time, as the attempt's tests run it: a clock that the launcher's
// waits move on and that the scripted transfer waits for, a scripted libcurl path, a download
// object over the scripted WinHTTP, and what the launcher says the attempt did.
#include <windows.h>

#include <algorithm>
#include <climits>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "base/test_hooks.h"
#include "download/download_attempt.h"
#include "download/download_file.h"
#include "download/download_thread.h"
#include "download_scenario.h"
#include "trace_recorder.h"

namespace testsupport {

using Calls = std::vector<std::wstring>;

constexpr unsigned kNever = UINT_MAX;

class AttemptClock;
inline AttemptClock* g_clock = nullptr;

// Fake time: the launcher's waits (on the test's thread) move the clock on, and the scripted
// transfer waits for it. After each move the launcher waits until the download thread waits for a
// later time again (or, when it has ended, a short real-time grace), so that every sample sees a
// known percentage.
class AttemptClock {
  public:
    AttemptClock() : m_launcher(GetCurrentThreadId()) {
        g_clock = this;
        SetSleepFunction([](unsigned ms) { g_clock->Advance(ms); });
    }
    ~AttemptClock() {
        ReleaseStalled();
        SetSleepFunction(nullptr);
        g_clock = nullptr;
    }
    // Before each DownloadFile: one download thread is about to run.
    void ExpectThread() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_running = 1;
    }
    // Returns once the clock has reached ms, or for kNever once the stalled ones are released.
    void WaitUntil(unsigned ms) {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (Reached(ms)) return;
        m_waiting.push_back(ms);
        --m_running;
        m_changed.notify_all();
        m_changed.wait(lock, [&] { return Reached(ms); });
    }
    void ReleaseStalled() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_released = true;
        WakeReached();
    }
    unsigned Now() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_now;
    }
    std::vector<unsigned> LauncherPauses() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_pauses;
    }

  private:
    bool Reached(unsigned ms) const { return ms == kNever ? m_released : m_now >= ms; }
    // A woken thread counts as running until it waits again.
    void WakeReached() {
        const auto woken = std::remove_if(m_waiting.begin(), m_waiting.end(),
                                          [this](unsigned ms) { return Reached(ms); });
        m_running += static_cast<int>(m_waiting.end() - woken);
        m_waiting.erase(woken, m_waiting.end());
        m_changed.notify_all();
    }
    void Advance(unsigned ms) {
        std::unique_lock<std::mutex> lock(m_mutex);
        // The download's own pauses (availability retries) wait for the clock too.
        if (GetCurrentThreadId() != m_launcher) {
            const unsigned until = m_now + ms;
            lock.unlock();
            return WaitUntil(until);
        }
        m_now += ms;
        m_pauses.push_back(ms);
        WakeReached();
        m_changed.wait_for(lock, std::chrono::milliseconds(300), [&] { return m_running <= 0; });
    }

    const DWORD m_launcher;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<unsigned> m_waiting;
    unsigned m_now = 0;
    int m_running = 0;
    bool m_released = false;
    std::vector<unsigned> m_pauses;
};

// The libcurl path as a script: it fails or writes body once the clock reaches endsAt, and
// records the proxy ("-": not given) and the file of each call.
struct CurlScript {
    int result = -1;
    unsigned endsAt = 0;
    std::string body;
    AttemptClock* clock = nullptr;
    Calls calls = {};
};

inline CurlScript* g_curl = nullptr;

inline int ScriptedCurl(const wchar_t* proxy, const wchar_t*, const wchar_t* file, HWND,
                        std::atomic<LONG>* percent) {
    CurlScript& script = *g_curl;
    script.calls.push_back((proxy != nullptr ? proxy : std::wstring(L"-")) + L" " + file);
    percent->store(0);
    if (script.clock != nullptr) script.clock->WaitUntil(script.endsAt);
    if (script.result < 1) return script.result;
    return WriteBytes(file, {script.body.begin(), script.body.end()}) ? script.result : -1;
}

// Internet Explorer settings with a static proxy list and nothing else.
inline FakeIEConfig StaticProxy(const std::wstring& proxy) { return {FALSE, {}, proxy, {}}; }

// A download object over the scripted WinHTTP, handed to the attempts that a test runs.
struct ScriptedWrapper {
    FakeWinHttp fake;
    WinHttpWrapper wrapper{fake};
};

// Waits in real time, up to a limit, for what a thread left running will do.
inline bool Eventually(const std::function<bool()>& done) {
    for (int i = 0; i < 500 && !done(); ++i) Sleep(10);
    return done();
}

// The files of attempts in folder, which their thread or the launcher removes.
inline std::vector<std::wstring> PartFiles(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((folder + L"\\*.part").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    for (BOOL more = TRUE; more; more = FindNextFileW(search, &found)) {
        names.push_back(found.cFileName);
    }
    FindClose(search);
    return names;
}

// The scripted libcurl path and WinHTTP, and the attempt's target file.
struct Rig {
    Rig() {
        g_curl = &curl;
        SetHttpsDownloadFunction(ScriptedCurl);
    }
    ~Rig() {
        SetHttpsDownloadFunction(nullptr);
        g_curl = nullptr;
    }
    // Runs the thread of a new attempt to its end on the calling thread, through the scripted
    // download object unless told otherwise.
    DownloadAttemptRef RunThread(DWORD type, bool abandoned = false, bool withWrapper = true) {
        DownloadAttemptRef attempt(DownloadAttempt::Create(
            kFakeUrl, target.c_str(), nullptr, type, withWrapper ? &scripted.wrapper : nullptr));
        if (!attempt) return attempt;
        if (abandoned) attempt->Abandon();
        attempt->AddRef();
        DownloadThread(attempt.get());
        return attempt;
    }

    CurlScript curl;
    TraceRecorder traces;
    TempDir dir;
    std::wstring target = dir.File(L"Setup.dat");
    ScriptedWrapper scripted;
};

// Ten chunks of 4 KiB: ten percent a chunk.
inline const std::string kTenChunks = Pattern(10 * 4096);

// An attempt whose libcurl phase fails at 1 s, then WinHTTP with kTenChunks.
struct WatchdogRig : Rig {
    WatchdogRig() {
        curl.clock = &clock;
        curl.endsAt = 1000;
        scripted.fake.responses = {Ok(kTenChunks), Ok(kTenChunks)};
    }
    // Chunk i of the WinHTTP body is read at at(i) ms.
    void Pace(std::function<unsigned(int)> at) {
        scripted.fake.onRead = [this, at](int i) { clock.WaitUntil(at(i)); };
    }
    // One attempt through the scripted download object, or another one given; what it did is in
    // outcome.
    int Attempt(DWORD type = WinHTTP_Download_Type_Direct_Connect, HWND progress = nullptr,
                WinHttpWrapper* wrapper = nullptr) {
        clock.ExpectThread();
        outcome = DownloadFile(wrapper != nullptr ? wrapper : &scripted.wrapper, kFakeUrl,
                               target.c_str(), progress, type);
        return outcome.nResult;
    }
    ~WatchdogRig() { Settle(); }
    // A stalled thread still holds the scripted WinHTTP: let it end, removing its own file.
    bool Settle() {
        clock.ReleaseStalled();
        return Eventually([&] { return PartFiles(dir.path()).empty(); });
    }

    AttemptClock clock;
    AttemptOutcome outcome;
    DownloadLogTail log;
};

inline const std::string kCancelledLine =
    "SafeDownloadFile return by WinHTTP_Download_Status_Cancel_By_User";

// How often the log gained the line.
inline int Logged(const DownloadLogTail& log, const std::string& line) {
    const std::vector<std::string> lines = log.Lines();
    return static_cast<int>(std::count(lines.begin(), lines.end(), line));
}

// n one-second samples, then the two seconds after the attempt.
inline std::vector<unsigned> Seconds(int samples) {
    std::vector<unsigned> pauses(static_cast<size_t>(samples), 1000u);
    pauses.push_back(2000u);
    return pauses;
}

inline std::function<unsigned(int)> Every(unsigned first, unsigned every) {
    return [=](int i) { return first + static_cast<unsigned>(i) * every; };
}

inline std::function<unsigned(int)> Stalls(int after) {
    return [=](int i) { return i < after ? 1000u * (i + 1) : kNever; };
}

}  // namespace testsupport
