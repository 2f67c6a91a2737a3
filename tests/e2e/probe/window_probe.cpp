// Windows-side helpers of the end-to-end tests, run in the same Wine session as the setup.
//
//   window_probe watch PERIOD_MS DURATION_MS
// Reads the setup's windows the way an accessibility tool would: every top-level window of a
// running QervSetupOnline.exe with its caption, visibility, place and the texts of its controls
// (the dialog's status line, progress position and button; a message box's text and buttons).
// Prints one JSON line whenever what it sees changes:
// {"t": ms since start, "windows": [{...}, ...]} (an empty list when nothing is open).
//
//   window_probe run PROGRAM [ARGUMENT...]
// Starts the program as a Windows parent would, waits for it and prints "exit code: N", the code
// that Windows gives the parent. (Seen from Linux, a Wine process whose last thread has ended but
// which is slow to leave is killed by the wineserver, and its own exit status is then lost.) The
// program inherits this process's output, so its debugger output arrives where this one's does.
#include <windows.h>
#include <commctrl.h>

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

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                          nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], bytes,
                        nullptr, nullptr);
    return out;
}

std::string Json(const std::wstring& text) {
    std::string out = "\"";
    for (unsigned char c : Utf8(text)) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

// The text of a window in another process as JSON, asked with a time limit so a busy setup
// cannot stall the probe; null when the window did not answer in time.
std::string TextOf(HWND hWnd) {
    if (hWnd == nullptr) return "null";
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(hWnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kReplyMs, &length)) {
        return "null";
    }
    std::vector<wchar_t> buffer(length + 2, L'\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(hWnd, WM_GETTEXT, buffer.size(),
                             reinterpret_cast<LPARAM>(buffer.data()), SMTO_ABORTIFHUNG, kReplyMs,
                             &copied)) {
        return "null";
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
    if (!ok) return false;
    const wchar_t* name = wcsrchr(path, L'\\');
    return lstrcmpiW(name ? name + 1 : path, L"QervSetupOnline.exe") == 0;
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

// The work area of the window's monitor, where an unowned dialog is centred.
std::string WorkAreaOf(HWND hWnd) {
    MONITORINFO info = {};
    info.cbSize = sizeof info;
    if (!GetMonitorInfoW(MonitorFromWindow(hWnd, MONITOR_DEFAULTTOPRIMARY), &info)) return "null";
    return RectText(info.rcWork);
}

// A message box's buttons with their screen rectangles, so that a test can click them.
BOOL CALLBACK CollectButton(HWND hChild, LPARAM lParam) {
    if (lstrcmpiW(ClassOf(hChild).c_str(), L"Button") == 0 && IsWindowVisible(hChild)) {
        reinterpret_cast<std::vector<std::string>*>(lParam)->push_back(
            "{\"text\": " + TextOf(hChild) + ", \"rect\": " + RectOf(hChild) + "}");
    }
    return TRUE;
}

std::string Describe(HWND hWnd) {
    DWORD pid = 0;
    GetWindowThreadProcessId(hWnd, &pid);
    char head[160];
    std::snprintf(
        head, sizeof head,
        "{\"hwnd\": %lu, \"pid\": %lu, \"visible\": %s, \"iconic\": %s, "
        "\"owner\": %lu, ",
        static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(hWnd)),
        static_cast<unsigned long>(pid), IsWindowVisible(hWnd) ? "true" : "false",
        IsIconic(hWnd) ? "true" : "false",
        static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(GetWindow(hWnd, GW_OWNER))));
    std::string out = head;
    out += "\"rect\": " + RectOf(hWnd) + ", \"work_area\": " + WorkAreaOf(hWnd) + ", ";
    out += "\"class\": " + Json(ClassOf(hWnd)) + ", \"title\": " + TextOf(hWnd);

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
        out += ", \"kind\": \"box\", \"text\": " + TextOf(hText);
        // Where the box's icon is drawn, or null when it shows none; a test reads its colours
        // from the screen.
        HWND hIcon = GetDlgItem(hWnd, kBoxIcon);
        out += ", \"icon_rect\": " +
               (hIcon != nullptr && IsWindowVisible(hIcon) ? RectOf(hIcon) : std::string("null"));
        std::vector<std::string> buttons;
        EnumChildWindows(hWnd, CollectButton, reinterpret_cast<LPARAM>(&buttons));
        out += ", \"buttons\": [";
        for (size_t i = 0; i < buttons.size(); ++i) {
            out += (i ? ", " : "") + buttons[i];
        }
        out += "]";
    } else {
        out += ", \"kind\": \"other\"";
    }
    return out + "}";
}

BOOL CALLBACK CollectWindow(HWND hWnd, LPARAM lParam) {
    if (IsSetupProcess(hWnd) && lstrcmpW(ClassOf(hWnd).c_str(), L"#32770") == 0) {
        reinterpret_cast<std::vector<std::string>*>(lParam)->push_back(Describe(hWnd));
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
    std::string last = "-";
    for (;;) {
        const DWORD elapsed = GetTickCount() - start;
        std::vector<std::string> windows;
        EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&windows));
        std::string state = "[";
        for (size_t i = 0; i < windows.size(); ++i) state += (i ? ", " : "") + windows[i];
        state += "]";
        if (state != last) {
            WriteLine("{\"t\": " + std::to_string(elapsed) + ", \"windows\": " + state + "}");
            last = state;
        }
        if (elapsed >= durationMs) return 0;
        Sleep(periodMs);
    }
}

// One argument as CommandLineToArgvW reads it back: quoted when it holds a blank or is empty, with
// the backslashes before a quote doubled.
std::wstring Quoted(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) {
        return argument;
    }
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, L'\\');
    return out + L"\"";
}

int Run(int argc, wchar_t** argv) {
    std::wstring commandLine = Quoted(argv[2]);
    for (int i = 3; i < argc; ++i) commandLine += L" " + Quoted(argv[i]);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(argv[2], &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
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
    if (argc >= 3 && lstrcmpW(argv[1], L"run") == 0) return Run(argc, argv);
    std::fputs(
        "usage: window_probe watch PERIOD_MS DURATION_MS\n"
        "       window_probe run PROGRAM [ARGUMENT...]\n",
        stderr);
    return 2;
}
