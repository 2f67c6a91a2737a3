#include "download/https_download.h"

#include <climits>
#include <cwchar>
#include <new>

std::unique_ptr<char[]> ToAnsiString(const wchar_t* szText) {
    if (!szText) return nullptr;
    const std::size_t nWide = std::wcslen(szText);
    if (nWide > INT_MAX) return nullptr;
    const int nWideChars = static_cast<int>(nWide);
    const int nLength =
        WideCharToMultiByte(CP_ACP, 0, szText, nWideChars, nullptr, 0, nullptr, nullptr);
    if (nLength < 1) return nullptr;
    std::unique_ptr<char[]> szAnsi(new (std::nothrow) char[nLength + 1]);
    if (!szAnsi) return nullptr;
    if (WideCharToMultiByte(CP_ACP, 0, szText, nWideChars, szAnsi.get(), nLength, nullptr,
                            nullptr) != nLength) {
        return nullptr;
    }
    szAnsi[nLength] = '\0';
    return szAnsi;
}

int MakeHttpsURL(const wchar_t* szUrl, char* szHttpsUrl) {
    if (!szUrl || !szHttpsUrl) return 0;
    const std::unique_ptr<char[]> szAnsi = ToAnsiString(szUrl);
    if (!szAnsi) return 0;
    return ForceHttpsScheme(szAnsi.get(), szHttpsUrl);
}
