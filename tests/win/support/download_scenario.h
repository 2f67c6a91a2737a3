#pragma once

// What the download tests share, with the headers they all use: the lines that the download
// trace log gained, a progress bar that keeps what it is sent, recognisable bodies, and
// SafeDownloadFile's scripted setting.
#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <future>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "download/winhttp_lib_log.h"
#include "download/winhttp_wrapper.h"
#include "fake_winhttp.h"
#include "sleep_recorder.h"
#include "test_support.h"

namespace testsupport {

constexpr wchar_t kFakeUrl[] = L"http://127.0.0.1/qerv/Setup.dat";

// Bytes that differ from one 4 KiB chunk to the next, so that a lost, repeated or reordered
// chunk shows.
inline std::string Pattern(size_t size, unsigned seed = 0) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 + i / 251 + seed);
    return bytes;
}

// Lines of the download trace log that several tests look for.
const std::string kAgent(std::begin(szDefaultAgent), std::end(szDefaultAgent) - 1);
const std::string kOk = "SafeDownloadFile: session connected, request opened, status 200 [OK]";
inline std::string Opened(const char* type) {
    return std::string("WrapperOpen type WinHTTP_Download_Type_") + type + ", szAgent=" + kAgent;
}
inline std::string Failed(int status) {
    return "SafeDownloadFile: authentication failed, dwLastStatus = " + std::to_string(status);
}

// An address on the loopback server whose port the environment variable portVariable gives.
inline std::wstring LoopbackUrl(const wchar_t* scheme, const wchar_t* portVariable,
                                const std::wstring& path, const wchar_t* host = L"127.0.0.1") {
    return std::wstring(scheme) + L"://" + host + L":" + Env(portVariable) + path;
}

// What C:\WinHTTPLib.log gained since the object was made; the file accumulates across runs.
class DownloadLogTail {
  public:
    DownloadLogTail() : m_start(Read().size()) {}
    std::string Bytes() const {
        const std::string text = Read();
        return text.size() <= m_start ? std::string() : text.substr(m_start);
    }
    // Split at CR LF; a last line without its line end is kept.
    std::vector<std::string> Lines() const {
        const std::string text = Bytes();
        std::vector<std::string> lines;
        for (size_t begin = 0; begin < text.size();) {
            const size_t end = std::min(text.find("\r\n", begin), text.size());
            lines.push_back(text.substr(begin, end - begin));
            begin = end + 2;
        }
        return lines;
    }

  private:
    // As another program reads it: a download call may hold it open for writing meanwhile.
    static std::string Read() {
        HANDLE hFile =
            CreateFileW(kWinHTTPLibLogPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (hFile == INVALID_HANDLE_VALUE) return std::string();
        std::string text;
        char buffer[65536];
        DWORD dwRead = 0;
        while (ReadFile(hFile, buffer, sizeof(buffer), &dwRead, nullptr) && dwRead > 0) {
            text.append(buffer, dwRead);
        }
        CloseHandle(hFile);
        return text;
    }
    size_t m_start;
};

// A progress bar on a thread of its own, as the dialog's is: it keeps every position sent to it,
// after onPosition (on its thread) has returned.
class ProgressProbe {
  public:
    explicit ProgressProbe(std::function<void(WPARAM)> onPosition = {})
        : m_onPosition(std::move(onPosition)) {
        std::promise<HWND> created;
        m_thread = std::thread([this, &created] {
            WNDCLASSW windowClass = {};
            windowClass.lpfnWndProc = Proc;
            windowClass.lpszClassName = L"QervProgressProbe";
            RegisterClassW(&windowClass);  // a second probe finds the class registered
            HWND window = CreateWindowW(windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                        nullptr, nullptr, nullptr);
            SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
            created.set_value(window);
            MSG msg;
            while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
            DestroyWindow(window);
        });
        m_window = created.get_future().get();
    }
    ~ProgressProbe() {
        PostThreadMessageW(GetWindowThreadProcessId(m_window, nullptr), WM_QUIT, 0, 0);
        m_thread.join();
    }
    HWND window() const { return m_window; }
    std::vector<WPARAM> Positions() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_positions;
    }

  private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* probe = reinterpret_cast<ProgressProbe*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (message != PBM_SETPOS || probe == nullptr) {
            return DefWindowProcW(window, message, wParam, lParam);
        }
        if (probe->m_onPosition) probe->m_onPosition(wParam);
        std::lock_guard<std::mutex> lock(probe->m_mutex);
        probe->m_positions.push_back(wParam);
        return 0;
    }

    std::function<void(WPARAM)> m_onPosition;
    mutable std::mutex m_mutex;
    std::vector<WPARAM> m_positions;
    HWND m_window = nullptr;
    std::thread m_thread;
};

// SafeDownloadFile against the scripted WinHTTP, into a fresh folder, with pauses recorded
// instead of waited.
struct DownloadScenario {
    SleepRecorder pauses;
    FakeWinHttp fake;
    WinHttpWrapper wrapper{fake};
    TempDir dir;
    std::wstring target = dir.File(L"Setup.dat");
    std::atomic<LONG> cancel{0};
    std::atomic<LONG> percent{-1};
    DownloadLogTail log;
};

}  // namespace testsupport
