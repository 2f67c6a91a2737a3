// curl.h brings winsock2.h, which must come before windows.h.
#include <curl/curl.h>

#include "download_bench_reference.h"

#include <windows.h>

#include <winhttp.h>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

struct CurlCleanup {
    void operator()(CURL* pCurl) const { curl_easy_cleanup(pCurl); }
};
struct FileClose {
    void operator()(FILE* pFile) const { std::fclose(pFile); }
};
struct InternetClose {
    void operator()(HINTERNET hInternet) const { WinHttpCloseHandle(hInternet); }
};
using Internet = std::unique_ptr<void, InternetClose>;
struct HandleClose {
    void operator()(HANDLE hFile) const { CloseHandle(hFile); }
};

}  // namespace

bool BareCurlTransfer(const std::string& url, const std::wstring& path) {
    curl_global_init(CURL_GLOBAL_ALL);
    const std::unique_ptr<CURL, CurlCleanup> curl(curl_easy_init());
    std::unique_ptr<FILE, FileClose> file(_wfopen(path.c_str(), L"wb"));
    if (!curl || !file) return false;
    curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, std::fwrite);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, file.get());
    const bool bOk = curl_easy_perform(curl.get()) == CURLE_OK;
    return std::fclose(file.release()) == 0 && bOk;
}

bool BareWinHttpTransfer(const std::wstring& url, const std::wstring& path) {
    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof(parts);
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) return false;
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    const bool bSecure = parts.nScheme == INTERNET_SCHEME_HTTPS;

    const Internet session(WinHttpOpen(L"download-bench", WINHTTP_ACCESS_TYPE_NO_PROXY,
                                       WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) return false;
    const Internet connection(WinHttpConnect(session.get(), host.c_str(), parts.nPort, 0));
    if (!connection) return false;
    const Internet request(WinHttpOpenRequest(connection.get(), L"GET", parts.lpszUrlPath, nullptr,
                                              WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                              bSecure ? WINHTTP_FLAG_SECURE : 0));
    if (!request) return false;
    if (bSecure) {
        DWORD dwFlags = SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE |
                        SECURITY_FLAG_IGNORE_CERT_CN_INVALID |
                        SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;
        WinHttpSetOption(request.get(), WINHTTP_OPTION_SECURITY_FLAGS, &dwFlags, sizeof(dwFlags));
    }
    if (!WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                            WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !WinHttpReceiveResponse(request.get(), nullptr)) {
        return false;
    }
    DWORD dwStatus = 0;
    DWORD dwSize = sizeof(dwStatus);
    if (!WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &dwStatus, &dwSize,
                             WINHTTP_NO_HEADER_INDEX) ||
        dwStatus != 200) {
        return false;
    }

    const HANDLE hFile = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) return false;
    const std::unique_ptr<void, HandleClose> file(hFile);
    std::vector<unsigned char> buffer;
    for (;;) {
        DWORD dwAvailable = 0;
        if (!WinHttpQueryDataAvailable(request.get(), &dwAvailable)) return false;
        if (dwAvailable == 0) return true;
        if (buffer.size() < dwAvailable) buffer.resize(dwAvailable);
        DWORD dwRead = 0;
        if (!WinHttpReadData(request.get(), buffer.data(), dwAvailable, &dwRead)) return false;
        DWORD dwWritten = 0;
        if (!WriteFile(file.get(), buffer.data(), dwRead, &dwWritten, nullptr) ||
            dwWritten != dwRead) {
            return false;
        }
    }
}
