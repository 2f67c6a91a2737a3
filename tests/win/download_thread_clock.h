#pragma once

// Fake time for the download attempts: the launcher's waits (on the test's own thread) move the
// clock on, and the scripted download (libcurl stand-in, WinHTTP fake reads) waits for it. After
// each move the launcher waits until the download thread has caught up, that is until it waits
// for a later time again, so that every sample sees a known percentage. A thread that no longer
// waits for the clock (it has finished) is given a short real-time grace instead.
#include <windows.h>

#include <chrono>
#include <climits>
#include <condition_variable>
#include <functional>
#include <list>
#include <mutex>
#include <vector>

#include "base/sleep.h"

namespace downloadtest {

constexpr unsigned kNever = UINT_MAX;

class AttemptClock {
  public:
    AttemptClock() : launcher_(GetCurrentThreadId()) {
        Current() = this;
        SetSleepFunction(&AttemptClock::Sleep);
    }
    ~AttemptClock() {
        ReleaseStalled();
        SetSleepFunction(nullptr);
        Current() = nullptr;
    }
    AttemptClock(const AttemptClock&) = delete;
    AttemptClock& operator=(const AttemptClock&) = delete;

    // Before each DownloadFile: one download thread is about to run, and every earlier one waits
    // for the clock or has ended.
    void ExpectThread() {
        std::lock_guard<std::mutex> lock(mutex_);
        running_ = 1;
    }

    // The download side: returns once the clock has reached ms (kNever: once the stalled
    // downloads are released).
    void WaitUntil(unsigned ms) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (Reached(ms)) return;
        Waiter self{ms, false};
        waiters_.push_back(&self);
        --running_;
        changed_.notify_all();
        changed_.wait(lock, [&] { return self.woken; });
    }

    // Lets every download that waits for kNever go on; from then on kNever is no wait.
    void ReleaseStalled() {
        std::lock_guard<std::mutex> lock(mutex_);
        released_ = true;
        WakeReached();
    }

    unsigned Now() {
        std::lock_guard<std::mutex> lock(mutex_);
        return now_;
    }
    // The launcher's waits, in milliseconds.
    std::vector<unsigned> LauncherPauses() {
        std::lock_guard<std::mutex> lock(mutex_);
        return pauses_;
    }
    // Runs at each launcher wait, after the clock has moved and the download has caught up.
    void OnTick(std::function<void(unsigned now)> tick) {
        std::lock_guard<std::mutex> lock(mutex_);
        tick_ = std::move(tick);
    }

  private:
    struct Waiter {
        unsigned until;
        bool woken;
    };

    static AttemptClock*& Current() {
        static AttemptClock* clock = nullptr;
        return clock;
    }
    static void Sleep(unsigned ms) { Current()->Advance(ms); }

    bool Reached(unsigned ms) const { return ms == kNever ? released_ : now_ >= ms; }

    // Wakes the waiters whose time has come; each counts as running until it waits again.
    void WakeReached() {
        for (auto it = waiters_.begin(); it != waiters_.end();) {
            if (Reached((*it)->until)) {
                (*it)->woken = true;
                ++running_;
                it = waiters_.erase(it);
            } else {
                ++it;
            }
        }
        changed_.notify_all();
    }

    void Advance(unsigned ms) {
        if (GetCurrentThreadId() != launcher_) {
            // A pause of the download itself (availability retries) waits for the clock too.
            WaitUntil(Now() + ms);
            return;
        }
        std::function<void(unsigned)> tick;
        unsigned now = 0;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            now_ += ms;
            pauses_.push_back(ms);
            WakeReached();
            changed_.wait_for(lock, kGrace, [&] { return running_ <= 0; });
            tick = tick_;
            now = now_;
        }
        if (tick) tick(now);
    }

    static constexpr std::chrono::milliseconds kGrace{300};

    const DWORD launcher_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::list<Waiter*> waiters_;
    unsigned now_ = 0;
    int running_ = 0;
    bool released_ = false;
    std::vector<unsigned> pauses_;
    std::function<void(unsigned)> tick_;
};

}  // namespace downloadtest
