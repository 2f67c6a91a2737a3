#pragma once

// One download attempt's own state, shared by reference between the launcher (DownloadFile) and
// the attempt's thread. The launcher gives up on a stalled attempt after a short wait, while its
// thread may stay blocked in a network call for much longer; the state therefore belongs to the
// attempt, so that a thread that wakes up late can neither end, fail nor overwrite the attempt
// that follows it.
#include <windows.h>

#include <atomic>

#include "download/resume_point.h"
#include "download/winhttp_wrapper.h"

// Addresses and paths live in fixed buffers, as everywhere in the download.
constexpr int kAttemptUrlChars = 1024;
// The attempt's own file: the caller's path and a suffix naming the attempt.
constexpr int kAttemptFileChars = 1024 + 32;

class DownloadAttempt {
  public:
    // A new attempt for szUrl and the caller's szSaveFile through the download object pWrapper
    // (which outlives it), with one reference held by the caller, or null when it cannot be made
    // (a URL or path too long for its buffer). It starts in the libcurl phase, with its cancel
    // flag clear.
    static DownloadAttempt* Create(const wchar_t* szUrl, const wchar_t* szSaveFile,
                                   HWND hWndProgress, DWORD nType, WinHttpWrapper* pWrapper);

    // Shared by the launcher and the thread: each holds a reference and releases it when done.
    void AddRef();
    void Release();

    // The thread's end: true when the launcher is still waiting, which then owns the outcome.
    // False when the launcher has abandoned the attempt.
    bool Finish();
    // The launcher's end: true when the thread has not finished, which from now on cleans up
    // after itself. False when the thread has finished and its outcome is the launcher's.
    bool Abandon();
    bool IsFinished() const;

    // Removes the attempt's own file, whatever is left of it.
    void DeleteOwnFile() const;

    const wchar_t* szUrl() const { return m_szUrl; }
    // The file that this attempt downloads into, next to the caller's file, so that a thread that
    // ends late writes nothing that a later attempt or the workflow uses.
    const wchar_t* szOwnFile() const { return m_szOwnFile; }
    HWND hWndProgress() const { return m_hWndProgress; }
    DWORD nType() const { return m_nType; }
    WinHttpWrapper* pWrapper() const { return m_pWrapper; }

    std::atomic<LONG> bCancel{0};
    std::atomic<LONG> nPercent{0};
    // The launcher's first sample may come before the thread has started: until the thread
    // reaches its WinHTTP phase there is no WinHTTP transfer to watch.
    std::atomic<LONG> bCurlPhase{1};
    std::atomic<LONG> nResult{0};
    // Closed by the launcher when it gives up on the attempt: the thread then no longer changes
    // what the status line shows.
    StatusGate gate;
    // The thread's own: what its file holds of the package, for the tries that continue it.
    ResumePoint resume;

  private:
    enum End : LONG { kRunning, kFinished, kAbandoned };

    DownloadAttempt() = default;
    ~DownloadAttempt() = default;
    bool EndAs(End end);

    std::atomic<LONG> m_nRefs{1};
    std::atomic<LONG> m_nEnd{kRunning};
    wchar_t m_szUrl[kAttemptUrlChars] = {};
    wchar_t m_szOwnFile[kAttemptFileChars] = {};
    HWND m_hWndProgress = nullptr;
    DWORD m_nType = 0;
    WinHttpWrapper* m_pWrapper = nullptr;
};

// Holds one reference to an attempt and releases it on every path out of its scope.
class DownloadAttemptRef {
  public:
    explicit DownloadAttemptRef(DownloadAttempt* pAttempt = nullptr) : m_pAttempt(pAttempt) {}
    DownloadAttemptRef(DownloadAttemptRef&& other) noexcept : m_pAttempt(other.release()) {}
    DownloadAttemptRef(const DownloadAttemptRef&) = delete;
    DownloadAttemptRef& operator=(const DownloadAttemptRef&) = delete;
    ~DownloadAttemptRef() {
        if (m_pAttempt != nullptr) m_pAttempt->Release();
    }

    DownloadAttempt* get() const { return m_pAttempt; }
    DownloadAttempt* operator->() const { return m_pAttempt; }
    explicit operator bool() const { return m_pAttempt != nullptr; }
    // Gives up the reference without releasing it, for a new owner to adopt.
    DownloadAttempt* release() {
        DownloadAttempt* pAttempt = m_pAttempt;
        m_pAttempt = nullptr;
        return pAttempt;
    }

  private:
    DownloadAttempt* m_pAttempt;
};
