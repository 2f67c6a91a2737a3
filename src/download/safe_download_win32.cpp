// SafeDownloadFile, the WinHTTP download of one attempt, in the order it runs: the session of the
// connection type, the request with its authentication loop, the body read into a chunk list with
// its progress, and the write of the chunks once the body is complete.
#include "download/winhttp_wrapper.h"

#include "base/scoped_handle.h"
#include "base/sleep.h"
#include "download/download_file.h"
#include "download/winhttp_lib_log.h"
#include "download/winhttp_rules.h"
#include "system/package_format.h"

#include <cwchar>
#include <memory>
#include <new>

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
    // One opening of the log for the whole call rather than one per line.
    const WinHTTPLibLogHold logHold;
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
    // No package is larger than the decoder accepts; a bigger announced length would have the
    // whole body held in memory first.
    if (dwTotal > kPackageMaxBytes) {
        m_dwStatus = WinHTTP_Download_Status_Error;
        return 0;
    }

    DeleteFileW(szPathSaveFile);
    // A link in the file's place is opened as itself, not followed: the download runs elevated.
    ScopedHandle file(CreateFileW(szPathSaveFile, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                  nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
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

namespace {

// Certificate errors that must not stop a download: unknown authority, wrong usage, wrong
// common name, invalid date (0x3300).
constexpr DWORD kIgnoredCertificateErrors =
    SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE |
    SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;

constexpr DWORD kHttpOk = 200;
constexpr DWORD kHttpPartialContent = 206;
constexpr DWORD kHttpUnauthorized = 401;
constexpr DWORD kHttpProxyAuthRequired = 407;

// ERROR_WINHTTP_RESEND_REQUEST asks for the same request again; a server or proxy that keeps
// asking would otherwise hold a thread forever, one that nobody waits for any more included.
constexpr int kMaxResends = 10;

int AsInt(DWORD value) { return static_cast<int>(value); }

}  // namespace

bool WinHttpWrapper::SendWithAuthentication(HINTERNET hRequest, bool bSecure,
                                            const wchar_t* szUserName, const wchar_t* szPassword,
                                            const std::atomic<LONG>* pbCancel) {
    int nResends = 0;
    const auto resendAllowed = [&nResends, pbCancel]() {
        if (pbCancel != nullptr && pbCancel->load() != 0) return false;
        return ++nResends <= kMaxResends;
    };
    DWORD dwProxyAuthScheme = 0;
    DWORD dwStatusCode = 0;
    DWORD dwLastStatus = 0;
    bool bDone = false;
    bool bSuccess = false;
    // Each kind of challenge is answered once: a second 401 or 407 in a row ends the loop, and so
    // does any failed call.
    for (;;) {
        if (dwProxyAuthScheme != 0) {
            const BOOL bResults =
                m_api.WinHttpSetCredentials(hRequest, WINHTTP_AUTH_TARGET_PROXY, dwProxyAuthScheme,
                                            szUserName, szPassword, nullptr);
            WinHTTPLibLog(
                L"SafeDownloadFile: WinHttpSetCredentials: dwProxyAuthScheme = %d, bResults = %d",
                AsInt(dwProxyAuthScheme), bResults);
        }
        if (bSecure) {
            DWORD dwFlags = kIgnoredCertificateErrors;
            m_api.WinHttpSetOption(hRequest, WINHTTP_OPTION_SECURITY_FLAGS, &dwFlags,
                                   sizeof(dwFlags));
        }
        if (!m_api.WinHttpSendRequest(hRequest, WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                                      WINHTTP_NO_REQUEST_DATA, 0, 0, 0)) {
            const DWORD dwError = GetLastError();
            WinHTTPLibLog(L"SafeDownloadFile: WinHttpSendRequest: ErrorCode = %d", AsInt(dwError));
            if (dwError == ERROR_WINHTTP_RESEND_REQUEST && resendAllowed()) continue;
            break;
        }
        if (!m_api.WinHttpReceiveResponse(hRequest, nullptr)) {
            const DWORD dwError = GetLastError();
            WinHTTPLibLog(L"SafeDownloadFile: WinHttpReceiveResponse: ErrorCode = %d",
                          AsInt(dwError));
            if (dwError == ERROR_WINHTTP_RESEND_REQUEST && resendAllowed()) continue;
            // A failed logon still leaves a response (the challenge) to read.
            if (dwError != ERROR_WINHTTP_LOGIN_FAILURE) break;
        }
        DWORD dwSize = sizeof(dwStatusCode);
        if (!m_api.WinHttpQueryHeaders(
                hRequest, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                WINHTTP_HEADER_NAME_BY_INDEX, &dwStatusCode, &dwSize, WINHTTP_NO_HEADER_INDEX)) {
            WinHTTPLibLog(L"SafeDownloadFile: WinHttpQueryHeaders: ErrorCode = %d",
                          AsInt(GetLastError()));
            break;
        }

        BOOL bResults = TRUE;
        DWORD dwSupportedSchemes = 0;
        DWORD dwFirstScheme = 0;
        DWORD dwTarget = 0;
        switch (dwStatusCode) {
            case kHttpOk:
            case kHttpPartialContent:
                bDone = true;
                bSuccess = true;
                WinHTTPLibLog(
                    L"SafeDownloadFile: session connected, request opened, status %d [OK]",
                    AsInt(dwStatusCode));
                break;
            case kHttpUnauthorized:
                WinHTTPLibLogLine(
                    L"SafeDownloadFile: status 401 [The server requires authentication]");
                bResults = m_api.WinHttpQueryAuthSchemes(hRequest, &dwSupportedSchemes,
                                                         &dwFirstScheme, &dwTarget);
                if (bResults) {
                    bResults = m_api.WinHttpSetCredentials(hRequest, dwTarget,
                                                           ChooseAuthScheme(dwSupportedSchemes),
                                                           szUserName, szPassword, nullptr);
                    WinHTTPLibLogLine(
                        L"SafeDownloadFile: WinHttpSetCredentials for authentication");
                }
                if (dwLastStatus == kHttpUnauthorized) bDone = true;
                break;
            case kHttpProxyAuthRequired:
                WinHTTPLibLogLine(
                    L"SafeDownloadFile: status 407 [The proxy requires authentication]");
                bResults = m_api.WinHttpQueryAuthSchemes(hRequest, &dwSupportedSchemes,
                                                         &dwFirstScheme, &dwTarget);
                WinHTTPLibLog(
                    L"SafeDownloadFile: status 407 WinHttpQueryAuthSchemes return: "
                    L"dwSupportedSchemes=%d, dwFirstScheme=%d, dwTarget=%d",
                    AsInt(dwSupportedSchemes), AsInt(dwFirstScheme), AsInt(dwTarget));
                if (bResults) {
                    WinHTTPLibLogLine(L"SafeDownloadFile: ChooseAuthScheme for authentication");
                    // Applied before the next send.
                    dwProxyAuthScheme = ChooseAuthScheme(dwSupportedSchemes);
                }
                if (dwLastStatus == kHttpProxyAuthRequired) bDone = true;
                break;
            default:
                bDone = true;
                break;
        }
        dwLastStatus = dwStatusCode;
        if (!bResults || bDone) break;
    }
    if (!bSuccess) {
        WinHTTPLibLog(L"SafeDownloadFile: authentication failed, dwLastStatus = %d",
                      AsInt(dwLastStatus));
    }
    return bSuccess;
}

namespace {

constexpr int kAvailabilityTries = 3;
constexpr unsigned kAvailabilityPauseMs = 3000;

// How many bytes can be read now. A failed query is asked again after a pause, up to three
// times; an empty answer on the first two tries also pauses, since the body may still be on its
// way. False (logged) when the third query fails.
bool QueryAvailable(WinHttpApi& api, HINTERNET hRequest, DWORD* pdwSize) {
    for (int nTry = 1;; ++nTry) {
        *pdwSize = 0;
        if (api.WinHttpQueryDataAvailable(hRequest, pdwSize)) {
            if (*pdwSize == 0 && nTry < kAvailabilityTries) SleepFor(kAvailabilityPauseMs);
            return true;
        }
        if (nTry == kAvailabilityTries) {
            WinHTTPLibLog(
                L"SafeDownloadFile return by WinHttpQueryDataAvailable error: ErrorCode=%d",
                static_cast<int>(GetLastError()));
            return false;
        }
        SleepFor(kAvailabilityPauseMs);
    }
}

}  // namespace

bool WinHttpWrapper::ReceiveBody(HINTERNET hRequest, HANDLE hFile, DWORD dwTotal,
                                 const ProgressTargets& to, ChunkList* pChunks,
                                 DWORD* pdwReceived) {
    DWORD& dwReceived = *pdwReceived;
    dwReceived = 0;
    for (;;) {
        DWORD dwSize = 0;
        if (!QueryAvailable(m_api, hRequest, &dwSize)) {
            m_dwStatus = WinHTTP_Download_Status_Error;
            return false;
        }
        WinHTTPLibLog(L"SafeDownloadFile: WinHttpQueryDataAvailable dwSize = %d",
                      static_cast<int>(dwSize));
        if (dwSize == 0) break;

        ChunkPtr chunk = NewChunk(dwSize);
        if (!chunk) {
            m_dwStatus = WinHTTP_Download_Status_Not_Enough_Buffer;
            WinHTTPLibLogLine(
                L"SafeDownloadFile return by WinHTTP_Download_Status_Not_Enough_Buffer");
            return false;
        }
        DWORD dwRead = 0;
        if (!m_api.WinHttpReadData(hRequest, chunk->data(), dwSize, &dwRead)) {
            m_dwStatus = WinHTTP_Download_Status_Error;
            WinHTTPLibLogLine(L"SafeDownloadFile return by WinHttpReadData error");
            return false;
        }
        WinHTTPLibLog(L"SafeDownloadFile: WinHttpReadData dwNumberByRead = %d",
                      static_cast<int>(dwRead));
        m_dwStatus = WinHTTP_Download_Status_Receiving;
        // The flag is looked at once per chunk, so a cancel takes effect when a read completes.
        if (to.pbCancel != nullptr && to.pbCancel->load() != 0) {
            m_dwStatus = WinHTTP_Download_Status_Cancel_By_User;
            WinHTTPLibLogLine(L"SafeDownloadFile return by WinHTTP_Download_Status_Cancel_By_User");
            return false;
        }
        if (m_bAppend == 1) SetFilePointer(hFile, 0, nullptr, FILE_END);

        // Bytes beyond the announced length are dropped.
        const DWORD dwMissing = dwTotal - dwReceived;
        if (dwRead > dwMissing) dwRead = dwMissing;
        pChunks->Append(std::move(chunk), dwRead);
        dwReceived += dwRead;

        if (to.pnPercent != nullptr) to.pnPercent->store(StoredPercent(dwReceived, dwTotal));
        if (to.hWndProgress != nullptr) {
            SendProgress(static_cast<int>(dwTotal), static_cast<int>(dwReceived), to.hWndProgress);
        }
        WinHTTPLibLog(L"SafeDownloadFile dwCurrentDownloaded = %d, TotalDownloadSize = %d",
                      static_cast<int>(dwReceived), static_cast<int>(dwTotal));
        if (dwReceived >= dwTotal) break;
    }
    return true;
}

bool WinHttpWrapper::WriteChunks(HANDLE hFile, ChunkList* pChunks) {
    while (ChunkPtr chunk = pChunks->TakeFront()) {
        DWORD dwWritten = 0;
        if (!WriteFile(hFile, chunk->data(), chunk->count, &dwWritten, nullptr) ||
            dwWritten != chunk->count) {
            WinHTTPLibLogLine(L"WriteFile Error !");
            return false;
        }
    }
    return true;
}
