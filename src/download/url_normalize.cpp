#include "download/url_normalize.h"

namespace {

// ASCII-only case folding: the scheme test must not depend on the locale.
wchar_t FoldAscii(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c; }

bool StartsWithNoCase(const wchar_t* text, const wchar_t* prefix) {
    for (; *prefix != L'\0'; ++text, ++prefix) {
        if (FoldAscii(*text) != *prefix) return false;
    }
    return true;
}

}  // namespace

void NormalizeUrl(wchar_t* szDest, const wchar_t* szUrl) {
    if (szUrl == nullptr) szUrl = L"";
    std::size_t n = 0;
    if (!StartsWithNoCase(szUrl, L"http://") && !StartsWithNoCase(szUrl, L"https://")) {
        for (const wchar_t* p = L"http://"; *p != L'\0'; ++p) szDest[n++] = *p;
    }
    for (std::size_t i = 0; i < kUrlMaxCopiedChars && szUrl[i] != L'\0'; ++i)
        szDest[n++] = szUrl[i];
    szDest[n] = L'\0';
}
