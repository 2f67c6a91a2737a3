#include "download/winhttp_lib_log.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <memory>
#include <mutex>
#include <new>

#include "base/last_error_keeper.h"
#include "download/log_line_encoding.h"

namespace {

struct FileCloser {
    void operator()(FILE* file) const { fclose(file); }
};

// A lingering attempt's thread and the next attempt's may log at once; each line is appended
// whole, one after the other.
std::mutex g_logLock;

}  // namespace

void WinHTTPLibLogLine(const wchar_t* szMessage) {
    if (szMessage == nullptr) return;
    const std::size_t length = wcsnlen(szMessage, kLogMessageChars);
    if (length >= kLogMessageChars) return;
    LastErrorKeeper keeper;
    std::unique_ptr<char[]> line(new (std::nothrow) char[kLogLineBytes]);
    if (!line) return;
    const std::size_t bytes = EncodeLogLine(szMessage, length, line.get(), kLogLineBytes);
    const std::lock_guard<std::mutex> lock(g_logLock);
    // Binary append: the bytes are already what a text-mode stream would store, and the C
    // runtime's own conversion would cut the line at the first character it cannot convert.
    std::unique_ptr<FILE, FileCloser> file(_wfopen(kWinHTTPLibLogPath, L"a+b"));
    if (!file) return;
    fwrite(line.get(), 1, bytes, file.get());
}

void WinHTTPLibLog(const wchar_t* format, ...) {
    LastErrorKeeper keeper;
    std::unique_ptr<wchar_t[]> message(new (std::nothrow) wchar_t[kLogMessageChars]);
    if (!message) return;
    va_list args;
    va_start(args, format);
    // _vsnwprintf never writes past the buffer: a message that does not fit comes back as -1, or
    // as exactly the buffer size without a terminator, and is dropped like any over-long one.
    const int written = _vsnwprintf(message.get(), kLogMessageChars, format, args);
    va_end(args);
    if (written < 0 || static_cast<std::size_t>(written) >= kLogMessageChars) return;
    message[written] = L'\0';
    WinHTTPLibLogLine(message.get());
}
