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

// Each kind of challenge is answered once: a second 401 or 407 in a row ends the loop, and so
// does any failed call.
bool WinHttpDownloadCall::SendWithAuthentication(const wchar_t* szUserName,
                                                 const wchar_t* szPassword, DWORD* pdwStatusCode) {
    AuthLoop loop;
    AuthPass pass = AuthPass::kAgain;
    while (pass == AuthPass::kAgain) {
        switch (SendRequest(szUserName, szPassword, &loop)) {
            case Sent::kStatus:
                pass = AnswerStatus(szUserName, szPassword, &loop);
                break;
            case Sent::kResend:
                break;
            case Sent::kFailed:
                pass = AuthPass::kFailed;
                break;
        }
    }
    if (pass != AuthPass::kSucceeded) {
        WinHTTPLibLog(L"SafeDownloadFile: authentication failed, dwLastStatus = %d",
                      AsInt(loop.dwLastStatus));
    }
    *pdwStatusCode = loop.dwStatusCode;
    return pass == AuthPass::kSucceeded;
}

WinHttpDownloadCall::Sent WinHttpDownloadCall::SendRequest(const wchar_t* szUserName,
                                                           const wchar_t* szPassword,
                                                           AuthLoop* pLoop) {
    const HINTERNET hRequest = m_request.get();
    if (pLoop->dwProxyAuthScheme != 0) {
        const BOOL bResults =
            m_api.WinHttpSetCredentials(hRequest, WINHTTP_AUTH_TARGET_PROXY,
                                        pLoop->dwProxyAuthScheme, szUserName, szPassword, nullptr);
        WinHTTPLibLog(
            L"SafeDownloadFile: WinHttpSetCredentials: dwProxyAuthScheme = %d, bResults = %d",
            AsInt(pLoop->dwProxyAuthScheme), bResults);
    }
    if (m_bSecure) {
        DWORD dwFlags = kIgnoredCertificateErrors;
        m_api.WinHttpSetOption(hRequest, WINHTTP_OPTION_SECURITY_FLAGS, &dwFlags, sizeof(dwFlags));
    }
    // The same request again, while the caps allow and nobody cancelled it.
    const auto resend = [this, pLoop](DWORD dwError) {
        return dwError == ERROR_WINHTTP_RESEND_REQUEST && !IsCancelled() &&
               ++pLoop->nResends <= kMaxResends;
    };
    if (!m_api.WinHttpSendRequest(hRequest, WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                                  WINHTTP_NO_REQUEST_DATA, 0, 0, 0)) {
        const DWORD dwError = GetLastError();
        WinHTTPLibLog(L"SafeDownloadFile: WinHttpSendRequest: ErrorCode = %d", AsInt(dwError));
        return resend(dwError) ? Sent::kResend : Sent::kFailed;
    }
    if (!m_api.WinHttpReceiveResponse(hRequest, nullptr)) {
        const DWORD dwError = GetLastError();
        WinHTTPLibLog(L"SafeDownloadFile: WinHttpReceiveResponse: ErrorCode = %d", AsInt(dwError));
        if (resend(dwError)) return Sent::kResend;
        // A failed logon still leaves a response (the challenge) to read.
        if (dwError != ERROR_WINHTTP_LOGIN_FAILURE) return Sent::kFailed;
    }
    DWORD dwSize = sizeof(pLoop->dwStatusCode);
    if (!m_api.WinHttpQueryHeaders(hRequest, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                   WINHTTP_HEADER_NAME_BY_INDEX, &pLoop->dwStatusCode, &dwSize,
                                   WINHTTP_NO_HEADER_INDEX)) {
        WinHTTPLibLog(L"SafeDownloadFile: WinHttpQueryHeaders: ErrorCode = %d",
                      AsInt(GetLastError()));
        return Sent::kFailed;
    }
    return Sent::kStatus;
}

WinHttpDownloadCall::AuthPass WinHttpDownloadCall::AnswerStatus(const wchar_t* szUserName,
                                                                const wchar_t* szPassword,
                                                                AuthLoop* pLoop) {
    const DWORD dwStatusCode = pLoop->dwStatusCode;
    bool bAnswered = false;
    bool bRepeated = dwStatusCode == pLoop->dwLastStatus;
    switch (dwStatusCode) {
        case kHttpOk:
        case kHttpPartialContent:
            WinHTTPLibLog(L"SafeDownloadFile: session connected, request opened, status %d [OK]",
                          AsInt(dwStatusCode));
            pLoop->dwLastStatus = dwStatusCode;
            return AuthPass::kSucceeded;
        case kHttpUnauthorized:
            WinHTTPLibLogLine(L"SafeDownloadFile: status 401 [The server requires authentication]");
            bAnswered = AnswerServer(szUserName, szPassword);
            break;
        case kHttpProxyAuthRequired:
            WinHTTPLibLogLine(L"SafeDownloadFile: status 407 [The proxy requires authentication]");
            bAnswered = ChooseProxyScheme(&pLoop->dwProxyAuthScheme);
            break;
        default:
            bRepeated = true;
            break;
    }
    pLoop->dwLastStatus = dwStatusCode;
    if (!bAnswered || bRepeated) return AuthPass::kFailed;
    // Only a challenge that was answered comes here; the next pass sends the answer.
    if (IsCancelled() || ++pLoop->nChallenges >= kMaxChallenges) return AuthPass::kFailed;
    return AuthPass::kAgain;
}

bool WinHttpDownloadCall::AnswerServer(const wchar_t* szUserName, const wchar_t* szPassword) {
    DWORD dwSupportedSchemes = 0, dwFirstScheme = 0, dwTarget = 0;
    if (!m_api.WinHttpQueryAuthSchemes(m_request.get(), &dwSupportedSchemes, &dwFirstScheme,
                                       &dwTarget)) {
        return false;
    }
    const BOOL bResults =
        m_api.WinHttpSetCredentials(m_request.get(), dwTarget, ChooseAuthScheme(dwSupportedSchemes),
                                    szUserName, szPassword, nullptr);
    WinHTTPLibLogLine(L"SafeDownloadFile: WinHttpSetCredentials for authentication");
    return bResults != FALSE;
}

bool WinHttpDownloadCall::ChooseProxyScheme(DWORD* pdwProxyAuthScheme) {
    DWORD dwSupportedSchemes = 0, dwFirstScheme = 0, dwTarget = 0;
    const BOOL bResults = m_api.WinHttpQueryAuthSchemes(m_request.get(), &dwSupportedSchemes,
                                                        &dwFirstScheme, &dwTarget);
    WinHTTPLibLog(
        L"SafeDownloadFile: status 407 WinHttpQueryAuthSchemes return: "
        L"dwSupportedSchemes=%d, dwFirstScheme=%d, dwTarget=%d",
        AsInt(dwSupportedSchemes), AsInt(dwFirstScheme), AsInt(dwTarget));
    if (!bResults) return false;
    WinHTTPLibLogLine(L"SafeDownloadFile: ChooseAuthScheme for authentication");
    // Applied before the next send.
    *pdwProxyAuthScheme = ChooseAuthScheme(dwSupportedSchemes);
    return true;
}
