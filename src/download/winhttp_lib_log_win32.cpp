#include "download/winhttp_lib_log.h"

#include <windows.h>

#include <aclapi.h>

#include <cstdarg>
#include <cwchar>
#include <memory>
#include <mutex>
#include <vector>

#include "base/last_error_keeper.h"
#include "base/scoped_handle.h"
#include "base/security_descriptor.h"
#include "download/log_line_encoding.h"

namespace {

// A log made by this program: SYSTEM and Administrators may change it, users only read it.
constexpr wchar_t kLogSecurity[] = L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FR;;;BU)";

// A log that an older build made keeps the list it was made with; it gets the protected one, once.
void ProtectOlderLog(HANDLE hFile, SECURITY_ATTRIBUTES* security) {
    PSECURITY_DESCRIPTOR pDescriptor = nullptr;
    if (security == nullptr ||
        GetSecurityInfo(hFile, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr,
                        nullptr, &pDescriptor) != ERROR_SUCCESS) {
        return;
    }
    const ScopedLocalMemory descriptor(pDescriptor);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD dwRevision = 0;
    BOOL bPresent = FALSE, bDefaulted = FALSE;
    PACL pDacl = nullptr;
    if (!GetSecurityDescriptorControl(pDescriptor, &control, &dwRevision) ||
        (control & SE_DACL_PROTECTED) != 0 ||
        !GetSecurityDescriptorDacl(security->lpSecurityDescriptor, &bPresent, &pDacl,
                                   &bDefaulted)) {
        return;
    }
    SetSecurityInfo(hFile, SE_FILE_OBJECT,
                    DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                    nullptr, pDacl, nullptr);
}

// The log, opened to append only; null when it cannot be opened or is not a plain file. The
// setup runs elevated and the log lies where users may create files: a folder, a link to another
// file or a reparse point in its place is not written through.
HANDLE OpenLogForAppend() {
    SddlSecurityAttributes security(kLogSecurity);
    constexpr DWORD kFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
    constexpr DWORD kSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;
    // The access list may be set through the same handle; a log whose list does not allow that
    // is still appended to.
    bool bListAccess = true;
    HANDLE hFile = CreateFileW(kWinHTTPLibLogPath, FILE_APPEND_DATA | READ_CONTROL | WRITE_DAC,
                               kSharing, security.get(), OPEN_ALWAYS, kFlags, nullptr);
    if (hFile == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED) {
        bListAccess = false;
        hFile = CreateFileW(kWinHTTPLibLogPath, FILE_APPEND_DATA, kSharing, security.get(),
                            OPEN_ALWAYS, kFlags, nullptr);
    }
    if (hFile == INVALID_HANDLE_VALUE) return nullptr;
    const bool bExisted = GetLastError() == ERROR_ALREADY_EXISTS;
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!GetFileInformationByHandle(hFile, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
        info.nNumberOfLinks != 1) {
        CloseHandle(hFile);
        return nullptr;
    }
    if (bExisted && bListAccess) ProtectOlderLog(hFile, security.get());
    return hFile;
}

// A lingering attempt's thread and the next attempt's may log at once; each line is appended
// whole, one after the other.
std::mutex g_logLock;

// The log that this thread's download call holds open, if one does.
struct ThreadLog {
    bool bHeld = false;
    HANDLE hFile = nullptr;  // null while held: the log could not be opened, lines are dropped
};
thread_local ThreadLog t_log;

void AppendLine(HANDLE hFile, const char* pLine, std::size_t bytes) {
    SetFilePointer(hFile, 0, nullptr, FILE_END);
    DWORD dwWritten = 0;
    WriteFile(hFile, pLine, static_cast<DWORD>(bytes), &dwWritten, nullptr);
}

}  // namespace

void WinHTTPLibLogLine(const wchar_t* szMessage) {
    if (szMessage == nullptr) return;
    const std::size_t length = wcsnlen(szMessage, kLogMessageChars);
    if (length >= kLogMessageChars) return;
    LastErrorKeeper keeper;
    std::vector<char> line(kLogLineBytes);
    const std::size_t bytes = EncodeLogLine(szMessage, length, line.data(), kLogLineBytes);
    const std::lock_guard<std::mutex> lock(g_logLock);
    // The bytes are already what a text-mode stream would store; they go straight to the file,
    // with no buffer between, so each line is there when the call returns.
    if (t_log.bHeld) {
        if (t_log.hFile != nullptr) AppendLine(t_log.hFile, line.data(), bytes);
        return;
    }
    const ScopedHandle file(OpenLogForAppend());
    if (file.valid()) AppendLine(file.get(), line.data(), bytes);
}

WinHTTPLibLogHold::WinHTTPLibLogHold() {
    if (t_log.bHeld) return;  // an outer hold on this thread keeps the log open already
    LastErrorKeeper keeper;
    m_bOwner = true;
    t_log.hFile = OpenLogForAppend();
    t_log.bHeld = true;
}

WinHTTPLibLogHold::~WinHTTPLibLogHold() {
    if (!m_bOwner) return;
    LastErrorKeeper keeper;
    const std::lock_guard<std::mutex> lock(g_logLock);
    if (t_log.hFile != nullptr) CloseHandle(t_log.hFile);
    t_log = ThreadLog();
}

void WinHTTPLibLog(const wchar_t* format, ...) {
    LastErrorKeeper keeper;
    std::vector<wchar_t> message(kLogMessageChars);
    va_list args;
    va_start(args, format);
    // _vsnwprintf never writes past the buffer: a message that does not fit comes back as -1, or
    // as exactly the buffer size without a terminator, and is dropped like any over-long one.
    const int written = _vsnwprintf(message.data(), kLogMessageChars, format, args);
    va_end(args);
    if (written < 0 || static_cast<std::size_t>(written) >= kLogMessageChars) return;
    message[written] = L'\0';
    WinHTTPLibLogLine(message.data());
}
