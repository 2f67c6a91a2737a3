// Windows-side helpers of the end-to-end tests, run in the same Wine session as the setup.
//
//   window_probe watch PERIOD_MS DURATION_MS
// Reads the setup's windows as an accessibility tool would (Wine gives child controls no X
// windows): every top-level dialog window of a running QervSetupOnline.exe with its caption,
// visibility, place and the texts of its controls. Prints {"windows": [{...}, ...]} as one JSON
// line whenever what it sees changes.
//
//   window_probe run PROGRAM [ARGUMENT...]
// Starts the program, waits for it and prints "exit code: N", the code that Windows gives a parent:
// seen from Linux, a Wine process that is slow to leave after its last thread is killed by the
// wineserver, and its exit status lost. The program inherits this process's output.
#include <windows.h>
#include <commctrl.h>
#include <shlwapi.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kStatusLine = 1007;
constexpr int kProgressBar = 1003;
constexpr int kCancelButton = 1005;
constexpr int kBoxText = 0xFFFF;
// The icon of a message box: a static control, hidden when the box has no icon.
constexpr int kBoxIcon = 0x0440;
// A window that does not answer within this time is reported without its texts.
constexpr UINT kReplyMs = 200;

std::string Json(const std::wstring& text) {
    std::string utf8(static_cast<size_t>(WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr,
                                                             0, nullptr, nullptr)),
                     '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &utf8[0], static_cast<int>(utf8.size()),
                        nullptr, nullptr);
    utf8.resize(utf8.size() - 1);
    std::string out = "\"";
    for (unsigned char c : utf8) {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, c < 0x20 ? "\\u%04x" : "%c", c);
        out += c == '"' || c == '\\' ? std::string("\\") + static_cast<char>(c) : escaped;
    }
    return out + "\"";
}

// The text of a window in another process as JSON, asked with a time limit so a busy setup
// cannot stall the probe; null when the window did not answer in time. The text may change
// between the question for its length and the one for the text: a text that filled its buffer
// may have been cut, and is asked for again.
std::string TextOf(HWND hWnd) {
    constexpr int kTries = 5;
    std::vector<wchar_t> buffer;
    for (int nTry = 0; nTry < kTries; ++nTry) {
        DWORD_PTR length = 0, copied = 0;
        if (hWnd == nullptr || !SendMessageTimeoutW(hWnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG,
                                                    kReplyMs, &length)) {
            return "null";
        }
        buffer.assign(length + 2, L'\0');
        if (!SendMessageTimeoutW(hWnd, WM_GETTEXT, buffer.size(),
                                 reinterpret_cast<LPARAM>(buffer.data()), SMTO_ABORTIFHUNG,
                                 kReplyMs, &copied)) {
            return "null";
        }
        if (copied <= length) break;
    }
    return Json(buffer.data());
}

std::wstring ClassOf(HWND hWnd) {
    wchar_t name[64] = {};
    GetClassNameW(hWnd, name, 64);
    return name;
}

bool IsSetupProcess(HWND hWnd) {
    DWORD pid = 0;
    GetWindowThreadProcessId(hWnd, &pid);
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (process == nullptr) return false;
    wchar_t path[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    const BOOL ok = QueryFullProcessImageNameW(process, 0, path, &size);
    CloseHandle(process);
    const wchar_t* name = wcsrchr(path, L'\\');
    return ok && lstrcmpiW(name ? name + 1 : path, L"QervSetupOnline.exe") == 0;
}

std::string RectText(const RECT& rect) {
    char text[80];
    std::snprintf(text, sizeof text, "[%ld, %ld, %ld, %ld]", rect.left, rect.top, rect.right,
                  rect.bottom);
    return text;
}

std::string RectOf(HWND hWnd) {
    RECT rect = {};
    GetWindowRect(hWnd, &rect);
    return RectText(rect);
}

// A message box's buttons with their screen rectangles, so that a test can click them.
BOOL CALLBACK CollectButton(HWND hChild, LPARAM lParam) {
    if (lstrcmpiW(ClassOf(hChild).c_str(), L"Button") == 0 && IsWindowVisible(hChild)) {
        std::string& out = *reinterpret_cast<std::string*>(lParam);
        out += std::string(out.back() == '[' ? "" : ", ") + "{\"text\": " + TextOf(hChild) +
               ", \"rect\": " + RectOf(hChild) + "}";
    }
    return TRUE;
}

std::string Describe(HWND hWnd) {
    DWORD pid = 0;
    GetWindowThreadProcessId(hWnd, &pid);
    // The work area of the window's monitor, where an unowned dialog is centred.
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(hWnd, MONITOR_DEFAULTTOPRIMARY), &monitor);
    std::string out =
        "{\"hwnd\": " + std::to_string(reinterpret_cast<ULONG_PTR>(hWnd)) +
        ", \"pid\": " + std::to_string(pid) +
        ", \"visible\": " + (IsWindowVisible(hWnd) ? "true" : "false") +
        ", \"iconic\": " + (IsIconic(hWnd) ? "true" : "false") + ", \"rect\": " + RectOf(hWnd) +
        ", \"work_area\": " + RectText(monitor.rcWork) + ", \"title\": " + TextOf(hWnd);
    if (HWND hStatus = GetDlgItem(hWnd, kStatusLine)) {
        out += ", \"kind\": \"dialog\", \"status\": " + TextOf(hStatus);
        DWORD_PTR position = 0;
        if (SendMessageTimeoutW(GetDlgItem(hWnd, kProgressBar), PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG,
                                kReplyMs, &position)) {
            out += ", \"progress\": " + std::to_string(position);
        }
        HWND hButton = GetDlgItem(hWnd, kCancelButton);
        out += ", \"button\": " + TextOf(hButton) + ", \"button_rect\": " + RectOf(hButton);
    } else if (HWND hText = GetDlgItem(hWnd, kBoxText)) {
        // Where the box's icon is drawn, or null when it shows none: a test reads its colours
        // from the screen.
        HWND hIcon = GetDlgItem(hWnd, kBoxIcon);
        out += ", \"kind\": \"box\", \"text\": " + TextOf(hText) + ", \"icon_rect\": " +
               (hIcon != nullptr && IsWindowVisible(hIcon) ? RectOf(hIcon) : "null") +
               ", \"buttons\": [";
        EnumChildWindows(hWnd, CollectButton, reinterpret_cast<LPARAM>(&out));
        out += "]";
    } else {
        out += ", \"kind\": \"other\"";
    }
    return out + "}";
}

BOOL CALLBACK CollectWindow(HWND hWnd, LPARAM lParam) {
    if (IsSetupProcess(hWnd) && lstrcmpW(ClassOf(hWnd).c_str(), L"#32770") == 0) {
        std::string& out = *reinterpret_cast<std::string*>(lParam);
        out += (out.back() == '[' ? "" : ", ") + Describe(hWnd);
    }
    return TRUE;
}

void WriteLine(const std::string& line) {
    DWORD written = 0;
    const std::string text = line + "\n";
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()),
              &written, nullptr);
}

int Watch(DWORD periodMs, DWORD durationMs) {
    const DWORD start = GetTickCount();
    std::string last;
    for (;;) {
        const DWORD elapsed = GetTickCount() - start;
        std::string state = "[";
        EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&state));
        state += "]";
        if (state != last) WriteLine("{\"windows\": " + state + "}");
        last = state;
        if (elapsed >= durationMs) return 0;
        Sleep(periodMs);
    }
}

int Run(const wchar_t* szProgram) {
    // The program's part of this probe's own command line, quoted as Wine quoted it.
    std::wstring commandLine = PathGetArgsW(PathGetArgsW(GetCommandLineW()));
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(szProgram, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        WriteLine("not started: error " + std::to_string(GetLastError()));
        return 255;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    WriteLine("exit code: " + std::to_string(code));
    return static_cast<int>(code);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 4 && lstrcmpW(argv[1], L"watch") == 0) {
        return Watch(static_cast<DWORD>(_wtoi(argv[2])), static_cast<DWORD>(_wtoi(argv[3])));
    }
    if (argc >= 3 && lstrcmpW(argv[1], L"run") == 0) return Run(argv[2]);
    std::fputs("usage: window_probe watch PERIOD_MS DURATION_MS | run PROGRAM [ARGUMENT...]\n",
               stderr);
    return 2;
}
