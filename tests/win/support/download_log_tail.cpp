#include "download_log_tail.h"

#include <windows.h>

#include "download/winhttp_lib_log.h"
#include "test_support.h"

namespace testsupport {

namespace {

std::vector<unsigned char> ReadLog() {
    std::vector<unsigned char> bytes;
    if (!ReadBytes(kWinHTTPLibLogPath, &bytes)) bytes.clear();
    return bytes;
}

}  // namespace

DownloadLogTail::DownloadLogTail() : start_(ReadLog().size()) {}

std::string DownloadLogTail::Bytes() const {
    const std::vector<unsigned char> bytes = ReadLog();
    if (bytes.size() <= start_) return std::string();
    return std::string(bytes.begin() + static_cast<std::ptrdiff_t>(start_), bytes.end());
}

std::vector<std::string> DownloadLogTail::Lines() const {
    const std::string text = Bytes();
    std::vector<std::string> lines;
    size_t begin = 0;
    while (begin < text.size()) {
        const size_t end = text.find("\r\n", begin);
        if (end == std::string::npos) {
            lines.push_back(text.substr(begin));
            break;
        }
        lines.push_back(text.substr(begin, end - begin));
        begin = end + 2;
    }
    return lines;
}

}  // namespace testsupport
