#pragma once

// What the download attempt tests share: the scripted WinHTTP published as the process's download
// object, a scripted libcurl path in place of DownloadURLByHTTPS, the trace lines of the launcher
// and the thread, and a fresh download folder.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/debug_trace.h"
#include "app/shared_state.h"
#include "download/download_file.h"
#include "trace_recorder.h"
#include "download/winhttp_wrapper.h"
#include "download_scenario.h"
#include "download_thread_clock.h"
#include "fake_winhttp.h"
#include "test_support.h"

namespace downloadtest {

// The libcurl path as a script: it fails or succeeds (writing body) once the clock reaches
// endsAt, and records what it was given.
struct CurlScript {
    int result = -1;
    unsigned endsAt = 0;
    std::string body;
    AttemptClock* clock = nullptr;
    // Recorded: the proxy of each call (empty: none given) and the file it wrote to.
    std::vector<std::optional<std::wstring>> proxies;
    std::vector<std::wstring> files;
};

inline CurlScript*& CurrentCurl() {
    static CurlScript* script = nullptr;
    return script;
}

inline int ScriptedCurl(const wchar_t* szProxy, const wchar_t*, const wchar_t* szSaveFile, HWND,
                        std::atomic<LONG>* pnPercent) {
    CurlScript& script = *CurrentCurl();
    script.proxies.push_back(szProxy != nullptr ? std::optional<std::wstring>(szProxy)
                                                : std::nullopt);
    script.files.push_back(szSaveFile);
    pnPercent->store(0);
    if (script.clock != nullptr) script.clock->WaitUntil(script.endsAt);
    if (script.result < 1) return script.result;
    const std::vector<unsigned char> bytes(script.body.begin(), script.body.end());
    return testsupport::WriteBytes(szSaveFile, bytes) ? script.result : -1;
}

// The trace lines of the launcher and the thread, from whichever thread they come.
using TraceLog = testsupport::TraceRecorder;

// Publishes a download object over the scripted WinHTTP for the time of a test.
class PublishedWrapper {
  public:
    PublishedWrapper() : previous_(g_pWinHttpWrapper.exchange(&wrapper)) {}
    ~PublishedWrapper() { g_pWinHttpWrapper.store(previous_); }
    PublishedWrapper(const PublishedWrapper&) = delete;
    PublishedWrapper& operator=(const PublishedWrapper&) = delete;

    testsupport::FakeWinHttp fake;
    WinHttpWrapper wrapper{fake};

  private:
    WinHttpWrapper* previous_;
};

// The body of a package of n chunks of chunkSize bytes, each byte telling its chunk apart.
inline std::string ChunkedBody(int chunks, unsigned chunkSize, char first = 'a') {
    std::string body;
    for (int i = 0; i < chunks; ++i) body.append(chunkSize, static_cast<char>(first + i % 26));
    return body;
}

// Waits in real time, up to a limit, for something that a thread left running will do.
inline bool Eventually(const std::function<bool()>& done) {
    for (int i = 0; i < 500; ++i) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return done();
}

// The files in a folder, by name.
inline std::vector<std::wstring> FilesIn(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            names.push_back(found.cFileName);
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

// Installs the curl script and the trace log for a test, and removes them afterwards.
class AttemptRig {
  public:
    AttemptRig() {
        CurrentCurl() = &curl;
        SetHttpsDownloadFunction(ScriptedCurl);
    }
    ~AttemptRig() {
        SetHttpsDownloadFunction(nullptr);
        CurrentCurl() = nullptr;
    }
    AttemptRig(const AttemptRig&) = delete;
    AttemptRig& operator=(const AttemptRig&) = delete;

    CurlScript curl;
    TraceLog traces;
    testsupport::TempDir dir;
    std::wstring target = dir.File(L"Setup.dat");
};

}  // namespace downloadtest
