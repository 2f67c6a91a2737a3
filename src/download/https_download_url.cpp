#include "download/https_download_url.h"

#include <cstring>
#include <cwchar>

namespace {

const char kHttps[] = "https://";
const char kHttp[] = "http://";
const wchar_t kHttpProxyPrefix[] = L"http=http://";

bool StartsWith(const char* szText, const char* szPrefix) {
    return std::strncmp(szText, szPrefix, std::strlen(szPrefix)) == 0;
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

const wchar_t* CurlProxyText(const wchar_t* szProxy) {
    if (!szProxy || !*szProxy) return nullptr;
    const wchar_t* szFound = std::wcsstr(szProxy, kHttpProxyPrefix);
    if (!szFound) return szProxy;
    return szFound + (sizeof(kHttpProxyPrefix) / sizeof(wchar_t) - 1);
}
