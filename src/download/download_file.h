#pragma once

// One download attempt on a thread of its own, watched by a once-a-second stall watchdog: the
// launcher (DownloadFile), the attempt's own state, and its thread.
#include <windows.h>

#include <atomic>

#include "base/test_hooks.h"
#include "download/resume_point.h"
#include "download/winhttp_wrapper.h"

// Shared by the worker and the launcher for the attempts of a run. It shows the attempt that runs
// now; the download thread works on the attempt's own state, which the launcher copies here.
struct DownloadThreadParam {
    const wchar_t* szUrl = nullptr;
    const wchar_t* szSaveFile = nullptr;
    HWND hWndProgress = nullptr;
    DWORD nType = 0;
    std::atomic<LONG> bCancel{0};
    std::atomic<LONG> nPercent{0};
    std::atomic<LONG> bCurlPhase{0};
    std::atomic<bool> bFinished{false};
    std::atomic<LONG> nResult{0};
};

// Runs one attempt and blocks until it ends or the watchdog gives up on it; 1 on success, else 0.
int DownloadFile(DownloadThreadParam* param, const wchar_t* szUrl, const wchar_t* szSaveFile,
                 HWND hWndProgress, DWORD nType);

// Moves the progress bar hWndProgress (range 0 to 100) to the position that ProgressPosition
// gives for nReceived of nTotal bytes, with PBM_SETPOS sent from the calling thread. Nothing is
// sent for a total of 0. Both download paths report through it.
void SendProgress(int nTotal, int nReceived, HWND hWndProgress);

// Removes the files of the attempts that were given up while their threads still ran, and the
// part of the package kept for a later try; a file still in use is scheduled for removal at the
// next restart instead. The workflow's clean-up calls this before it removes (or schedules) the
// download folder, which they would otherwise keep.
void RemoveAbandonedAttemptFiles();

// One download attempt's own state. The launcher gives up on a stalled attempt after a short
// wait, while its thread may stay blocked in a network call for much longer; the state therefore
// belongs to the attempt, not to the record that the attempts of a run share, so that a thread
// that wakes up late can neither end, fail nor overwrite the attempt that follows it.

// Addresses and paths live in fixed buffers, as everywhere in the download.
constexpr int kAttemptUrlChars = 1024;
// The attempt's own file: the caller's path and a suffix naming the attempt.
constexpr int kAttemptFileChars = 1024 + 32;

class DownloadAttempt {
  public:
    // A new attempt for szUrl and the caller's szSaveFile, with one reference held by the caller,
    // or null when it cannot be made (no memory, a URL or path too long for its buffer). It
    // starts in the libcurl phase, with its cancel flag clear.
    static DownloadAttempt* Create(const wchar_t* szUrl, const wchar_t* szSaveFile,
                                   HWND hWndProgress, DWORD nType);

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

// The thread of one download attempt: the libcurl path first and, when that fails, the WinHTTP
// path of the attempt's connection type.

// The proxy string that the libcurl path gets for the Internet Explorer proxy type.
constexpr int kCurlProxyChars = 256;

// The thread procedure. pParam is a DownloadAttempt whose reference the thread adopts and
// releases at its end. Returns 0.
DWORD WINAPI DownloadThread(LPVOID pParam);

// Starts DownloadThread on the attempt with a reference of its own. Gives the thread's handle,
// or null when the thread cannot be created.
HANDLE StartDownloadThread(DownloadAttempt* pAttempt);

// Tests script the libcurl phase through SetHttpsDownloadFunction.

// The WinHTTP downloads that one connection type makes.

// Fetches szUrl into szSaveFile with SafeDownloadFile for connection type nType: type 0 tries a
// direct download and then, unless the cancel flag is set, the Internet Explorer proxy; types 1
// to 3 make one download of their type; type 4 uses the configured proxy with its user name and
// password. Any other type downloads nothing. Every download gets the attempt's context, so a
// second one continues what the first left. Gives 1 on success, else 0.
int DownloadByType(DWORD nType, HWND hWndProgress, const std::atomic<LONG>* pbCancel,
                   std::atomic<LONG>* pnPercent, WinHttpWrapper* pWrapper, const wchar_t* szUrl,
                   const wchar_t* szSaveFile, const DownloadCallContext& context = {});
