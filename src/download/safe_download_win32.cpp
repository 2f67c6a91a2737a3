#include "download/winhttp_wrapper.h"

#include <cwchar>
#include <memory>
#include <new>

#include "base/scoped_handle.h"
#include "download/winhttp_rules.h"
#include "download/winhttp_lib_log.h"

namespace {

LPCWSTR g_acceptTypes[] = {L"text/*", L"application/*", L"image/*", nullptr};

}  // namespace

DWORD WinHttpWrapper::SafeDownloadFile(const wchar_t* szPathUrl, const wchar_t* szPathSaveFile,
                                       HWND hWndProgress, const std::atomic<LONG>* pbCancel,
                                       DWORD dwType, const wchar_t* szUserName,
                                       const wchar_t* szPassword, std::atomic<LONG>* pnPercent) {
    std::unique_ptr<wchar_t[]> szURL(new (std::nothrow) wchar_t[kUrlBufferChars]);
    std::unique_ptr<wchar_t[]> szHostName(new (std::nothrow) wchar_t[kUrlBufferChars]);
    if (!szURL || !szHostName) {
        m_dwStatus = WinHTTP_Download_Status_Error;
        return 0;
    }
    m_dwType = dwType;
    m_dwStatus = WinHTTP_Download_Status_Init;
    WinHTTPLibLogLine(L"SafeDownloadFile: start WinHTTP_Download_Status_Init");
    if (szPathUrl == nullptr || szPathSaveFile == nullptr) {
        m_dwStatus = WinHTTP_Download_Status_Error;
        WinHTTPLibLogLine(
            L"SafeDownloadFile: return by (szPathUrl == NULL) || (szPathSaveFile == NULL)");
        return 0;
    }

    WinHTTPLibLogLine(L"SafeDownloadFile: step 1");
    NormalizeUrl(szURL.get(), szPathUrl);
    WinHTTPLibLog(L"szDefaultAgent = %s, szURL = %s", szDefaultAgent, szURL.get());
    WinHttpHandle session = WrapperOpen(dwType, szURL.get());
    WinHTTPLibLog(L"SafeDownloadFile: step 1.1, error code %d", static_cast<int>(GetLastError()));
    if (!session) {
        m_dwStatus = WinHTTP_Download_Status_Error;
        return 0;
    }

    WinHTTPLibLogLine(L"SafeDownloadFile: step 1.2");
    m_dwStatus = WinHTTP_Download_Status_Session_Opened;
    URL_COMPONENTS components = {};
    components.dwStructSize = sizeof(components);
    components.dwSchemeLength = static_cast<DWORD>(-1);
    components.dwHostNameLength = static_cast<DWORD>(-1);
    components.dwUrlPathLength = static_cast<DWORD>(-1);
    components.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!m_api.WinHttpCrackUrl(szURL.get(), 0, 0, &components)) {
        WinHTTPLibLog(L"SafeDownloadFile: step 1.3 error code %d",
                      static_cast<int>(GetLastError()));
        m_dwStatus = WinHTTP_Download_Status_Error;
        return 0;
    }

    WinHTTPLibLogLine(L"SafeDownloadFile: step 1.4");
    m_dwStatus = WinHTTP_Download_Status_Url_Cracked;
    DWORD nHostChars = 0;
    if (components.lpszHostName != nullptr) {
        nHostChars = components.dwHostNameLength;
        if (nHostChars > kUrlBufferChars - 1) nHostChars = kUrlBufferChars - 1;
        wmemcpy(szHostName.get(), components.lpszHostName, nHostChars);
    }
    szHostName[nHostChars] = L'\0';
    if (m_nConnectTimeout != 0) {
        m_api.WinHttpSetTimeouts(session.get(), m_nResolveTimeout, m_nConnectTimeout,
                                 m_nSendTimeout, m_nReceiveTimeout);
    }
    WinHttpHandle connection(
        m_api, m_api.WinHttpConnect(session.get(), szHostName.get(), components.nPort, 0));
    if (!connection) {
        WinHTTPLibLogLine(L"SafeDownloadFile: step 1.5");
        m_dwStatus = WinHTTP_Download_Status_Error;
        return 0;
    }

    WinHTTPLibLogLine(L"SafeDownloadFile: step 2");
    m_dwStatus = WinHTTP_Download_Status_Connected;
    // Case-sensitive and anywhere in the URL: "HTTPS://" is fetched without the secure flag.
    const bool bSecure = wcsstr(szURL.get(), L"https") != nullptr;
    // The object runs from the path to the end of the URL, so a query part is sent too.
    const wchar_t* szObject = components.lpszUrlPath != nullptr ? components.lpszUrlPath : L"";
    WinHttpHandle request(
        m_api, m_api.WinHttpOpenRequest(connection.get(), L"GET", szObject, L"HTTP/1.1",
                                        WINHTTP_NO_REFERER, g_acceptTypes,
                                        bSecure ? WINHTTP_FLAG_SECURE : WINHTTP_FLAG_REFRESH));
    if (!request) {
        m_dwStatus = WinHTTP_Download_Status_Error;
        return 0;
    }
    m_dwStatus = WinHTTP_Download_Status_Request_Opened;
    WinHTTPLibLogLine(L"SafeDownloadFile: step 3");

    if (!SendWithAuthentication(request.get(), bSecure, szUserName, szPassword, pbCancel)) {
        m_dwStatus = WinHTTP_Download_Status_Error;
        return 0;
    }
    m_dwStatus = WinHTTP_Download_Status_Response_OK;
    DWORD dwTotal = 0;
    DWORD dwSize = sizeof(dwTotal);
    // Without a length there is no telling a complete body from a cut one.
    if (!m_api.WinHttpQueryHeaders(
            request.get(), WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER,
            WINHTTP_HEADER_NAME_BY_INDEX, &dwTotal, &dwSize, WINHTTP_NO_HEADER_INDEX) ||
        dwTotal == 0) {
        m_dwStatus = WinHTTP_Download_Status_Error;
        return 0;
    }
    WinHTTPLibLog(L"SafeDownloadFile: WinHttpQueryHeaders dwDownloadSize = %d",
                  static_cast<int>(dwTotal));

    DeleteFileW(szPathSaveFile);
    ScopedHandle file(CreateFileW(szPathSaveFile, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        m_dwStatus = WinHTTP_Download_Status_Error;
        WinHTTPLibLogLine(L"SafeDownloadFile return by CreateFileW error");
        return 0;
    }
    ChunkList chunks;
    DWORD dwReceived = 0;
    if (!ReceiveBody(request.get(), file.get(), dwTotal, {hWndProgress, pbCancel, pnPercent},
                     &chunks, &dwReceived)) {
        return 0;
    }

    WinHTTPLibLogLine(L"Before WriteFile");
    const bool bWritten = WriteChunks(file.get(), &chunks);
    WinHTTPLibLogLine(L"Before CloseHandle");
    file.reset();
    request.reset();
    connection.reset();
    session.reset();
    // A body that did not reach the disk whole is no download, even when every byte arrived.
    if (!bWritten || dwReceived != dwTotal) {
        m_dwStatus = WinHTTP_Download_Status_Error;
        return 0;
    }
    m_dwStatus = WinHTTP_Download_Status_Completed;
    return 1;
}
