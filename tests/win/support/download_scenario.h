#pragma once

// One run of SafeDownloadFile against the scripted WinHTTP: a fresh target file in a temporary
// folder, the download's pauses recorded instead of waited, and the trace log lines appended.
#include <atomic>
#include <string>
#include <vector>

#include "download/winhttp_wrapper.h"
#include "download_log_tail.h"
#include "fake_winhttp.h"
#include "test_support.h"

namespace testsupport {

constexpr wchar_t kFakeUrl[] = L"http://127.0.0.1/qerv/Setup.dat";

class DownloadScenario {
  public:
    DownloadScenario();   // pauses are recorded from here on
    ~DownloadScenario();  // and waited for real again afterwards
    DownloadScenario(const DownloadScenario&) = delete;
    DownloadScenario& operator=(const DownloadScenario&) = delete;

    DWORD Run(const wchar_t* url = kFakeUrl, DWORD type = WinHTTP_Download_Type_Direct_Connect,
              const wchar_t* userName = nullptr, const wchar_t* password = nullptr);

    // The pauses asked for since the scenario began, in milliseconds.
    std::vector<unsigned> Pauses() const;
    bool LogHas(const std::string& line) const;
    bool TargetExists() const { return FileExists(target); }
    std::string TargetBytes() const;

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
