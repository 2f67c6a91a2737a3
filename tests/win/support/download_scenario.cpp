#include "download_scenario.h"

#include <algorithm>

#include "download/winhttp_lib_log.h"

namespace testsupport {

namespace {

std::string ReadLog() {
    std::vector<unsigned char> bytes;
    return ReadBytes(kWinHTTPLibLogPath, &bytes) ? std::string(bytes.begin(), bytes.end()) : "";
}

}  // namespace

DownloadLogTail::DownloadLogTail() : start_(ReadLog().size()) {}

std::string DownloadLogTail::Bytes() const {
    const std::string text = ReadLog();
    return text.size() <= start_ ? std::string() : text.substr(start_);
}

std::vector<std::string> DownloadLogTail::Lines() const {
    const std::string text = Bytes();
    std::vector<std::string> lines;
    for (size_t begin = 0; begin < text.size();) {
        const size_t end = std::min(text.find("\r\n", begin), text.size());
        lines.push_back(text.substr(begin, end - begin));
        begin = end + 2;
    }
    return lines;
}

std::vector<std::string> DownloadLogTail::Starting(const std::vector<std::string>& prefixes) const {
    std::vector<std::string> kept;
    for (const std::string& line : Lines()) {
        const auto starts = [&line](const std::string& prefix) {
            return line.rfind(prefix, 0) == 0;
        };
        if (std::any_of(prefixes.begin(), prefixes.end(), starts)) kept.push_back(line);
    }
    return kept;
}

}  // namespace testsupport
