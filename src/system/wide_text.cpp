#include "system/wide_text.h"

#include <cstdint>

namespace {

constexpr std::uint32_t kReplacement = 0xFFFD;

bool IsSurrogate(std::uint32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

void AppendUtf8(std::uint32_t c, std::string* out) {
    if (c < 0x80) {
        out->push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out->push_back(static_cast<char>(0xC0 | c >> 6));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out->push_back(static_cast<char>(0xE0 | c >> 12));
        out->push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xF0 | c >> 18));
        out->push_back(static_cast<char>(0x80 | (c >> 12 & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

void AppendWide(std::uint32_t c, std::wstring* out) {
    if (sizeof(wchar_t) == 2 && c >= 0x10000) {
        c -= 0x10000;
        out->push_back(static_cast<wchar_t>(0xD800 | c >> 10));
        out->push_back(static_cast<wchar_t>(0xDC00 | (c & 0x3FF)));
    } else {
        out->push_back(static_cast<wchar_t>(c));
    }
}

}  // namespace

std::string WideToUtf8(const wchar_t* text) {
    std::string out;
    for (size_t i = 0; text[i] != L'\0'; ++i) {
        std::uint32_t c = static_cast<std::uint32_t>(text[i]);
        if (sizeof(wchar_t) == 2) c &= 0xFFFF;
        const std::uint32_t next = static_cast<std::uint32_t>(text[i + 1]);
        if (sizeof(wchar_t) == 2 && c >= 0xD800 && c <= 0xDBFF && next >= 0xDC00 &&
            next <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (next - 0xDC00);
            ++i;
        } else if (IsSurrogate(c) || c > 0x10FFFF) {
            c = kReplacement;
        }
        AppendUtf8(c, &out);
    }
    return out;
}

bool Utf8ToWide(const char* text, std::wstring* wide) {
    wide->clear();
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    while (*p) {
        const unsigned char lead = *p++;
        int more = 0;  // continuation bytes that follow the lead byte
        if (lead >= 0xF0 && lead <= 0xF4) {
            more = 3;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            more = 2;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            more = 1;
        } else if (lead >= 0x80) {
            return false;
        }
        static const std::uint32_t kSmallest[] = {0, 0x80, 0x800,
                                                  0x10000};  // overlong forms are invalid
        std::uint32_t c = more == 0 ? lead : lead & (0x3Fu >> more);
        for (int i = 0; i < more; ++i, ++p) {
            if ((*p & 0xC0) != 0x80) return false;
            c = c << 6 | (*p & 0x3F);
        }
        if (c < kSmallest[more] || IsSurrogate(c) || c > 0x10FFFF) return false;
        AppendWide(c, wide);
    }
    return true;
}
