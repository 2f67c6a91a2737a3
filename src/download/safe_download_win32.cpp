// SafeDownloadFile, the WinHTTP download of one attempt, up to its request: the session of the
// connection type, the connection and the request, which the authentication loop
// (winhttp_auth_loop_win32.cpp) sends and whose body goes to the file as it arrives
// (winhttp_body_win32.cpp).
#include "download/winhttp_wrapper.h"

#include "download/winhttp_download_call.h"
#include "download/winhttp_lib_log.h"
#include "download/winhttp_rules.h"

#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

namespace {

LPCWSTR g_acceptTypes[] = {L"text/*", L"application/*", L"image/*", nullptr};

}  // namespace

DWORD WinHttpWrapper::SafeDownloadFile(const wchar_t* szPathUrl, const wchar_t* szPathSaveFile,
                                       HWND hWndProgress, const std::atomic<LONG>* pbCancel,
                                       DWORD dwType, const wchar_t* szUserName,
                                       const wchar_t* szPassword, std::atomic<LONG>* pnPercent,
                                       const DownloadCallContext& context) {
    // One opening of the log for the whole call rather than one per line.
    const WinHTTPLibLogHold logHold;
    WinHttpDownloadCall call(*this, hWndProgress, pbCancel, pnPercent, context);
    call.SetType(dwType);
    call.SetStatus(WinHTTP_Download_Status_Init);
    WinHTTPLibLogLine(L"SafeDownloadFile: start WinHTTP_Download_Status_Init");
    if (szPathUrl == nullptr || szPathSaveFile == nullptr) {
        WinHTTPLibLogLine(
            L"SafeDownloadFile: return by (szPathUrl == NULL) || (szPathSaveFile == NULL)");
        return call.Fail();
    }
    // A cancelled attempt starts nothing more on the network, automatic proxy discovery included.
    if (call.IsCancelled()) return call.EndCancelled();
    if (!call.OpenSession(dwType, szPathUrl) || !call.CrackUrl() || !call.Connect() ||
        !call.OpenRequest()) {
        return call.Fail();
    }
    if (call.IsCancelled()) return call.EndCancelled();
    call.AskForTheRest();
    DWORD dwStatusCode = 0;
    if (!call.SendWithAuthentication(szUserName, szPassword, &dwStatusCode)) return call.Fail();
    // The file is closed inside; the handles go with the call, in the reverse order of opening.
    return call.ReceiveIntoFile(dwStatusCode, szPathSaveFile);
}

bool WinHttpDownloadCall::OpenSession(DWORD dwType, const wchar_t* szPathUrl) {
    WinHTTPLibLogLine(L"SafeDownloadFile: step 1");
    NormalizeUrl(m_szUrl.data(), szPathUrl);
    WinHTTPLibLog(L"szDefaultAgent = %s, szURL = %s", szDefaultAgent, m_szUrl.data());
    m_session = m_wrapper.WrapperOpen(dwType, m_szUrl.data());
    WinHTTPLibLog(L"SafeDownloadFile: step 1.1, error code %d", static_cast<int>(GetLastError()));
    return static_cast<bool>(m_session);
}

bool WinHttpDownloadCall::CrackUrl() {
    WinHTTPLibLogLine(L"SafeDownloadFile: step 1.2");
    SetStatus(WinHTTP_Download_Status_Session_Opened);
    m_components.dwStructSize = sizeof(m_components);
    m_components.dwSchemeLength = static_cast<DWORD>(-1);
    m_components.dwHostNameLength = static_cast<DWORD>(-1);
    m_components.dwUrlPathLength = static_cast<DWORD>(-1);
    m_components.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!m_api.WinHttpCrackUrl(m_szUrl.data(), 0, 0, &m_components)) {
        WinHTTPLibLog(L"SafeDownloadFile: step 1.3 error code %d",
                      static_cast<int>(GetLastError()));
        return false;
    }
    return true;
}

bool WinHttpDownloadCall::Connect() {
    WinHTTPLibLogLine(L"SafeDownloadFile: step 1.4");
    SetStatus(WinHTTP_Download_Status_Url_Cracked);
    std::vector<wchar_t> szHostName(kUrlBufferChars, L'\0');
    if (m_components.lpszHostName != nullptr) {
        const DWORD nHostChars =
            std::min<DWORD>(m_components.dwHostNameLength, static_cast<DWORD>(kUrlBufferChars - 1));
        wmemcpy(szHostName.data(), m_components.lpszHostName, nHostChars);
    }
    if (m_wrapper.m_nConnectTimeout != 0) {
        m_api.WinHttpSetTimeouts(m_session.get(), m_wrapper.m_nResolveTimeout,
                                 m_wrapper.m_nConnectTimeout, m_wrapper.m_nSendTimeout,
                                 m_wrapper.m_nReceiveTimeout);
    }
    m_connection = WinHttpHandle(
        m_api, m_api.WinHttpConnect(m_session.get(), szHostName.data(), m_components.nPort, 0));
    if (!m_connection) {
        WinHTTPLibLogLine(L"SafeDownloadFile: step 1.5");
        return false;
    }
    return true;
}

bool WinHttpDownloadCall::OpenRequest() {
    WinHTTPLibLogLine(L"SafeDownloadFile: step 2");
    SetStatus(WinHTTP_Download_Status_Connected);
    // Case-sensitive and anywhere in the URL: "HTTPS://" is fetched without the secure flag.
    m_bSecure = wcsstr(m_szUrl.data(), L"https") != nullptr;
    // The object runs from the path to the end of the URL, so a query part is sent too.
    const wchar_t* szObject = m_components.lpszUrlPath != nullptr ? m_components.lpszUrlPath : L"";
    m_request = WinHttpHandle(
        m_api, m_api.WinHttpOpenRequest(m_connection.get(), L"GET", szObject, L"HTTP/1.1",
                                        WINHTTP_NO_REFERER, g_acceptTypes,
                                        m_bSecure ? WINHTTP_FLAG_SECURE : WINHTTP_FLAG_REFRESH));
    if (!m_request) return false;
    SetStatus(WinHTTP_Download_Status_Request_Opened);
    WinHTTPLibLogLine(L"SafeDownloadFile: step 3");
    return true;
}

DWORD WinHttpDownloadCall::Fail() {
    SetStatus(WinHTTP_Download_Status_Error);
    return 0;
}

void WinHttpDownloadCall::SetStatus(DWORD dwStatus) {
    if (m_context.pGate == nullptr) {
        m_wrapper.m_dwStatus = dwStatus;
        return;
    }
    m_context.pGate->Pass([&] { m_wrapper.m_dwStatus = dwStatus; });
}

void WinHttpDownloadCall::SetType(DWORD dwType) {
    if (m_context.pGate == nullptr) {
        m_wrapper.m_dwType = dwType;
        return;
    }
    m_context.pGate->Pass([&] { m_wrapper.m_dwType = dwType; });
}

DWORD WinHttpDownloadCall::EndCancelled() {
    SetStatus(WinHTTP_Download_Status_Cancel_By_User);
    WinHTTPLibLogLine(L"SafeDownloadFile return by WinHTTP_Download_Status_Cancel_By_User");
    return 0;
}

void WinHttpDownloadCall::AskForTheRest() {
    ResumePoint* pResume = m_context.pResume;
    if (pResume == nullptr || !pResume->CanResume()) return;
    const std::string headers = ResumeRequestHeaders(*pResume);
    // ASCII only: the validator was kept only as printable ASCII.
    const std::wstring wide(headers.begin(), headers.end());
    if (!m_api.WinHttpAddRequestHeaders(m_request.get(), wide.c_str(),
                                        static_cast<DWORD>(wide.size()),
                                        WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE)) {
        // Then the whole package is asked for, and the file starts afresh.
        pResume->Forget();
        return;
    }
    m_bAskedForRest = true;
    WinHTTPLibLog(L"SafeDownloadFile: resume dwCurrentDownloaded = %d, TotalDownloadSize = %d",
                  static_cast<int>(pResume->nBytes), static_cast<int>(pResume->nTotal));
}
