#pragma once

// The download tests' view of SafeDownloadFile: the scripted WinHTTP, a fresh target file, pauses
// recorded instead of waited, and the lines that the download trace log gained.
#include <atomic>
#include <string>
#include <vector>

#include "download/winhttp_wrapper.h"
#include "fake_winhttp.h"
#include "sleep_recorder.h"
#include "test_support.h"

namespace testsupport {

constexpr wchar_t kFakeUrl[] = L"http://127.0.0.1/qerv/Setup.dat";

// What C:\WinHTTPLib.log gained since the object was made; the file accumulates across runs.
class DownloadLogTail {
  public:
    DownloadLogTail();
    std::string Bytes() const;
    // Split at CR LF; a last line without its line end is kept.
    std::vector<std::string> Lines() const;
    // The lines that start with one of the prefixes.
    std::vector<std::string> Starting(const std::vector<std::string>& prefixes) const;

  private:
    size_t start_;
};

struct DownloadScenario {
    SleepRecorder pauses;
    FakeWinHttp fake;
    WinHttpWrapper wrapper{fake};
    TempDir dir;
    std::wstring target = dir.File(L"Setup.dat");
    HWND progressWindow = nullptr;
    std::atomic<LONG> cancel{0};
    std::atomic<LONG> percent{-1};
    DownloadLogTail log;
};

}  // namespace testsupport
