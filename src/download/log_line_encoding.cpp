#include "download/log_line_encoding.h"

#include <cstdint>

namespace {

bool IsHighSurrogate(wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(wchar_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

}  // namespace

std::size_t EncodeLogLine(const wchar_t* szMessage, std::size_t nLength, char* pOut,
                          std::size_t nOutBytes) {
    std::size_t n = 0;
    auto put = [&](char byte) {
        if (n == nOutBytes) return false;
        pOut[n++] = byte;
        return true;
    };
    for (std::size_t i = 0; i < nLength; ++i) {
        const wchar_t c = szMessage[i];
        bool ok = true;
        if (c == L'\n') {
            ok = put('\r') && put('\n');
        } else if (static_cast<std::uint32_t>(c) <= 0xFF) {
            ok = put(static_cast<char>(static_cast<unsigned char>(c)));
        } else {
            if (IsHighSurrogate(c) && i + 1 < nLength && IsLowSurrogate(szMessage[i + 1])) ++i;
            ok = put('?');
        }
        if (!ok) return 0;
    }
    if (!put('\r') || !put('\n')) return 0;
    return n;
}
