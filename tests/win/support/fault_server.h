#pragma once

// The loopback fault server (tests/servers/fault_server.py) as the network tests see it: its
// addresses, the bodies it generates, and the requests it recorded.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "test_support.h"

namespace testsupport {

// An address on the fault server over "http" or "https".
inline std::wstring FaultUrl(const wchar_t* scheme, const std::wstring& path) {
    const bool https = std::wstring(scheme) == L"https";
    return std::wstring(scheme) + L"://127.0.0.1:" +
           Env(https ? L"QERV_TEST_FAULT_HTTPS_PORT" : L"QERV_TEST_FAULT_HTTP_PORT") + path;
}

// Byte i of a generated body of the given version.
inline unsigned char FaultByte(std::uint64_t i, unsigned version = 0) {
    return static_cast<unsigned char>((i * 7 + 3 + version) & 0xFF);
}

// Whether the file holds exactly the generated body of `total` bytes of the given version, read
// in pieces so that a package of hundreds of megabytes needs no more memory than one piece.
inline bool HoldsFaultBody(const std::wstring& path, std::uint64_t total, unsigned version = 0) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    std::vector<unsigned char> piece(1 << 20);
    std::uint64_t offset = 0;
    bool same = true;
    for (DWORD read = 0;
         same && ReadFile(file, piece.data(), static_cast<DWORD>(piece.size()), &read, nullptr) &&
         read > 0;
         offset += read) {
        for (DWORD i = 0; same && i < read; ++i) same = piece[i] == FaultByte(offset + i, version);
    }
    CloseHandle(file);
    return same && offset == total;
}

// The requests that the fault server recorded for the package or turns named id (or any path
// containing it): "PATH range=RANGE if-range=VALIDATOR STATUS" each.
inline std::vector<std::string> FaultRequests(const std::string& id) {
    std::vector<unsigned char> bytes;
    std::vector<std::string> lines;
    if (!ReadBytes(Env(L"QERV_TEST_FAULT_LOG_WIN"), &bytes)) return lines;
    const std::string text(bytes.begin(), bytes.end());
    for (size_t begin = 0; begin < text.size();) {
        const size_t end = std::min(text.find('\n', begin), text.size());
        const std::string line = text.substr(begin, end - begin);
        if (line.find(id) != std::string::npos) lines.push_back(line);
        begin = end + 1;
    }
    return lines;
}

// The Range header of each recorded request for id, "-" where there was none.
inline std::vector<std::string> FaultRanges(const std::string& id) {
    std::vector<std::string> ranges;
    for (const std::string& line : FaultRequests(id)) {
        const size_t start = line.find(" range=") + 7;
        ranges.push_back(line.substr(start, line.find(' ', start) - start));
    }
    return ranges;
}

}  // namespace testsupport
