// The request and authentication loop of SafeDownloadFile: the request is sent, sent again when
// WinHTTP asks, and each challenge of a server or proxy is answered with the caller's credentials,
// until the server answers 200 or 206 or the loop gives up.
#include "download/winhttp_download_call.h"

#include "download/winhttp_lib_log.h"
#include "download/winhttp_rules.h"

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

// ERROR_WINHTTP_RESEND_REQUEST asks for the same request again, and a server and a proxy that
// take turns with 401 and 407 never give two challenges of a kind in a row: either would
// otherwise hold a thread for good, one that nobody waits for any more included.
constexpr int kMaxResends = 10;
constexpr int kMaxChallenges = 10;

int AsInt(DWORD value) { return static_cast<int>(value); }

}  // namespace

bool WinHttpDownloadCall::SendWithAuthentication(HINTERNET hRequest, bool bSecure,
                                                 const wchar_t* szUserName,
                                                 const wchar_t* szPassword, DWORD* pdwStatusCode) {
    int nResends = 0;
    int nChallenges = 0;
    const auto resendAllowed = [&nResends, this]() {
        return !IsCancelled() && ++nResends <= kMaxResends;
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
        // Only a challenge that was answered comes here; the next pass sends the answer.
        if (IsCancelled() || ++nChallenges >= kMaxChallenges) break;
    }
    if (!bSuccess) {
        WinHTTPLibLog(L"SafeDownloadFile: authentication failed, dwLastStatus = %d",
                      AsInt(dwLastStatus));
    }
    *pdwStatusCode = dwStatusCode;
    return bSuccess;
}
