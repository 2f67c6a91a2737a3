#include "download_bench_support.h"

#include <commctrl.h>

#include "download/winhttp_lib_log.h"

namespace {

constexpr wchar_t kAsidePath[] = L"C:\\WinHTTPLib.log.bench-aside";

}  // namespace

ProgressBarThread::ProgressBarThread() {
    m_hReady = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    m_hThread = CreateThread(nullptr, 0, Run, this, 0, &m_dwThreadId);
    if (m_hThread != nullptr) WaitForSingleObject(m_hReady, INFINITE);
}

ProgressBarThread::~ProgressBarThread() {
    if (m_hThread != nullptr) {
        PostThreadMessageW(m_dwThreadId, WM_QUIT, 0, 0);
        WaitForSingleObject(m_hThread, INFINITE);
        CloseHandle(m_hThread);
    }
    CloseHandle(m_hReady);
}

DWORD WINAPI ProgressBarThread::Run(LPVOID pParam) {
    ProgressBarThread& self = *static_cast<ProgressBarThread*>(pParam);
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    self.m_hWnd = CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_POPUP, 0, 0, 200, 20, nullptr,
                                  nullptr, GetModuleHandleW(nullptr), nullptr);
    MSG msg;
    // The queue exists once a message function has been called: only then can WM_QUIT reach it.
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
    SetEvent(self.m_hReady);
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
    if (self.m_hWnd != nullptr) DestroyWindow(self.m_hWnd);
    return 0;
}

unsigned long long LogSize() {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(kWinHTTPLibLogPath, GetFileExInfoStandard, &data)) return 0;
    return (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::vector<std::wstring> LogLinesSince(unsigned long long nSince) {
    std::vector<std::wstring> lines;
    const HANDLE hFile = CreateFileW(kWinHTTPLibLogPath, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) return lines;
    LARGE_INTEGER start;
    start.QuadPart = static_cast<LONGLONG>(nSince);
    SetFilePointerEx(hFile, start, nullptr, FILE_BEGIN);
    std::string text;
    char buffer[65536];
    DWORD dwRead = 0;
    while (ReadFile(hFile, buffer, sizeof(buffer), &dwRead, nullptr) && dwRead > 0) {
        text.append(buffer, dwRead);
    }
    CloseHandle(hFile);
    size_t begin = 0;
    for (size_t end = text.find("\r\n"); end != std::string::npos;
         begin = end + 2, end = text.find("\r\n", begin)) {
        // The log's lines are 8-bit text of the first 256 code points.
        std::wstring line;
        for (size_t i = begin; i < end; ++i)
            line += static_cast<wchar_t>(static_cast<unsigned char>(text[i]));
        lines.push_back(line);
    }
    return lines;
}

double ReplayLogLines(const std::vector<std::wstring>& lines) {
    const double start = Seconds();
    for (const std::wstring& line : lines) WinHTTPLibLogLine(line.c_str());
    return Seconds() - start;
}

LogMadeUnwritable::LogMadeUnwritable() {
    if (GetFileAttributesW(kWinHTTPLibLogPath) != INVALID_FILE_ATTRIBUTES) {
        m_bMovedAside = MoveFileExW(kWinHTTPLibLogPath, kAsidePath, MOVEFILE_REPLACE_EXISTING);
        if (!m_bMovedAside) return;
    }
    m_bActive = CreateDirectoryW(kWinHTTPLibLogPath, nullptr) != FALSE;
}

LogMadeUnwritable::~LogMadeUnwritable() {
    if (m_bActive) RemoveDirectoryW(kWinHTTPLibLogPath);
    if (m_bMovedAside) MoveFileExW(kAsidePath, kWinHTTPLibLogPath, MOVEFILE_REPLACE_EXISTING);
}

double Seconds() {
    LARGE_INTEGER frequency;
    LARGE_INTEGER now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}
