#include "download/https_download_url.h"

#include "base/ascii_text.h"

#include <cstring>
#include <cwchar>
#include <vector>

namespace {

const char kHttps[] = "https://";
const char kHttp[] = "http://";
const wchar_t kHttpProxyPrefix[] = L"http=http://";

bool StartsWith(const char* szText, const char* szPrefix) {
    return std::strncmp(szText, szPrefix, std::strlen(szPrefix)) == 0;
}

// Entries are separated by ';' or ASCII white space, whatever the locale.
bool IsProxySeparator(wchar_t c) { return c == L';' || c == L' ' || (c >= L'\t' && c <= L'\r'); }

// The text up to the first separator.
std::wstring FirstPart(const wchar_t* szText) {
    const wchar_t* szEnd = szText;
    while (*szEnd != L'\0' && !IsProxySeparator(*szEnd)) ++szEnd;
    return std::wstring(szText, szEnd);
}

}  // namespace

int ForceHttpsScheme(const char* szText, char* szUrl) {
    if (!szText || !szUrl) return 0;
    const char* szScheme = "";
    const char* szRest = szText;
    if (!StartsWith(szText, kHttps)) {
        szScheme = kHttps;
        if (StartsWith(szText, kHttp)) szRest += std::strlen(kHttp);
    }
    const std::size_t nScheme = std::strlen(szScheme);
    const std::size_t nRest = std::strlen(szRest);
    if (nScheme + nRest >= kHttpsUrlBytes) return 0;
    std::memcpy(szUrl, szScheme, nScheme);
    std::memcpy(szUrl + nScheme, szRest, nRest + 1);
    return 1;
}

int EscapeURLSpaces(char* szUrl) {
    if (!szUrl) return 0;
    std::size_t nLength = std::strlen(szUrl);
    // Walking backwards moves each tail once, already escaped, and leaves earlier spaces in place.
    for (std::size_t i = nLength; i-- > 0;) {
        if (szUrl[i] != ' ') continue;
        if (nLength + 2 >= kHttpsUrlBytes) return 0;
        std::memmove(szUrl + i + 3, szUrl + i + 1, nLength - i);
        std::memcpy(szUrl + i, "%20", 3);
        nLength += 2;
    }
    return 1;
}

std::wstring ChooseCurlProxy(const wchar_t* szProxy) {
    if (!szProxy) return std::wstring();
    if (const wchar_t* szFound = std::wcsstr(szProxy, kHttpProxyPrefix)) {
        return FirstPart(szFound + (sizeof(kHttpProxyPrefix) / sizeof(wchar_t) - 1));
    }
    std::vector<std::wstring> entries;
    for (const wchar_t* p = szProxy; *p != L'\0';) {
        if (IsProxySeparator(*p)) {
            ++p;
            continue;
        }
        entries.push_back(FirstPart(p));
        p += entries.back().size();
    }
    if (entries.empty()) return std::wstring();
    for (const wchar_t* szScheme : {L"https=", L"http="}) {
        for (const std::wstring& entry : entries) {
            if (StartsWithAsciiNoCase(entry.c_str(), szScheme))
                return entry.substr(std::wcslen(szScheme));
        }
    }
    const std::wstring::size_type nEquals = entries.front().find(L'=');
    return nEquals == std::wstring::npos ? entries.front() : entries.front().substr(nEquals + 1);
}

std::string UrlHost(const char* szUrl) {
    if (!szUrl) return std::string();
    const char* szStart = std::strstr(szUrl, "://");
    szStart = szStart != nullptr ? szStart + 3 : szUrl;
    const char* szEnd = szStart + std::strcspn(szStart, "/?#");
    // Credentials come before the last '@' of the authority.
    for (const char* p = szStart; p < szEnd; ++p) {
        if (*p == '@') szStart = p + 1;
    }
    if (*szStart == '[') {
        const char* szClose = std::strchr(szStart, ']');
        if (szClose == nullptr || szClose > szEnd) return std::string();
        return std::string(szStart + 1, szClose);
    }
    const char* szColon = std::strchr(szStart, ':');
    if (szColon != nullptr && szColon < szEnd) szEnd = szColon;
    return std::string(szStart, szEnd);
}

namespace {

wchar_t LowerAscii(wchar_t c) {
    return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c;
}

// Whether text matches pattern, in which '*' stands for any run of characters. Only the latest
// '*' is ever retried, one text character further each time, so the work stays within the
// product of the two lengths whatever the pattern holds.
bool GlobMatches(const wchar_t* pPattern, const wchar_t* pPatternEnd, const char* szText) {
    const wchar_t* pStar = nullptr;
    const char* szAfterStar = nullptr;
    while (*szText != '\0') {
        if (pPattern < pPatternEnd && *pPattern == L'*') {
            pStar = pPattern++;
            szAfterStar = szText;
        } else if (pPattern < pPatternEnd &&
                   LowerAscii(*pPattern) == LowerAscii(static_cast<unsigned char>(*szText))) {
            ++pPattern;
            ++szText;
        } else if (pStar != nullptr) {
            pPattern = pStar + 1;
            szText = ++szAfterStar;
        } else {
            return false;
        }
    }
    while (pPattern < pPatternEnd && *pPattern == L'*') ++pPattern;
    return pPattern == pPatternEnd;
}

bool IsBypassSeparator(wchar_t c) { return c == L',' || IsProxySeparator(c); }

}  // namespace

bool IsProxyBypassed(const wchar_t* szBypass, const std::string& host) {
    if (!szBypass || host.empty()) return false;
    static const wchar_t kLocal[] = L"<local>";
    const std::size_t nLocal = sizeof(kLocal) / sizeof(wchar_t) - 1;
    for (const wchar_t* p = szBypass; *p != L'\0';) {
        if (IsBypassSeparator(*p)) {
            ++p;
            continue;
        }
        const wchar_t* pEnd = p;
        while (*pEnd != L'\0' && !IsBypassSeparator(*pEnd)) ++pEnd;
        const bool bLocal =
            static_cast<std::size_t>(pEnd - p) == nLocal && StartsWithAsciiNoCase(p, kLocal);
        if (bLocal ? host.find('.') == std::string::npos : GlobMatches(p, pEnd, host.c_str())) {
            return true;
        }
        p = pEnd;
    }
    return false;
}

std::string CurlNoProxyList(const wchar_t* szBypass, const std::string& host) {
    return IsProxyBypassed(szBypass, host) ? host : std::string();
}
