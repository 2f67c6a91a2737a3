// SafeDownloadFile, the WinHTTP download of one attempt, up to its request: the session of the
// connection type, the connection and the request, which the authentication loop
// (winhttp_auth_loop_win32.cpp) sends and whose body goes to the file as it arrives
// (winhttp_body_win32.cpp).
#include "download/winhttp_wrapper.h"

#include "download/winhttp_download_call.h"
#include "download/winhttp_lib_log.h"
#include "download/winhttp_rules.h"

#include <cwchar>
#include <memory>
#include <new>
#include <string>

namespace {

LPCWSTR g_acceptTypes[] = {L"text/*", L"application/*", L"image/*", nullptr};

}  // namespace

DWORD WinHttpWrapper::SafeDownloadFile(const wchar_t* szPathUrl, const wchar_t* szPathSaveFile,
                                       HWND hWndProgress, const std::atomic<LONG>* pbCancel,
                                       DWORD dwType, const wchar_t* szUserName,
                                       const wchar_t* szPassword, std::atomic<LONG>* pnPercent,
                                       const DownloadCallContext& context) {
    WinHttpDownloadCall call(*this, hWndProgress, pbCancel, pnPercent, context);
    std::unique_ptr<wchar_t[]> szURL(new (std::nothrow) wchar_t[kUrlBufferChars]);
    std::unique_ptr<wchar_t[]> szHostName(new (std::nothrow) wchar_t[kUrlBufferChars]);
    if (!szURL || !szHostName) {
        call.SetStatus(WinHTTP_Download_Status_Error);
        return 0;
    }
    call.SetType(dwType);
    call.SetStatus(WinHTTP_Download_Status_Init);
    // One opening of the log for the whole call rather than one per line.
    const WinHTTPLibLogHold logHold;
    WinHTTPLibLogLine(L"SafeDownloadFile: start WinHTTP_Download_Status_Init");
    if (szPathUrl == nullptr || szPathSaveFile == nullptr) {
        call.SetStatus(WinHTTP_Download_Status_Error);
        WinHTTPLibLogLine(
            L"SafeDownloadFile: return by (szPathUrl == NULL) || (szPathSaveFile == NULL)");
        return 0;
    }
    // A cancelled attempt starts nothing more on the network, automatic proxy discovery included.
    if (call.IsCancelled()) {
        call.EndCancelled();
        return 0;
    }

    WinHTTPLibLogLine(L"SafeDownloadFile: step 1");
    NormalizeUrl(szURL.get(), szPathUrl);
    WinHTTPLibLog(L"szDefaultAgent = %s, szURL = %s", szDefaultAgent, szURL.get());
    WinHttpHandle session = WrapperOpen(dwType, szURL.get());
    WinHTTPLibLog(L"SafeDownloadFile: step 1.1, error code %d", static_cast<int>(GetLastError()));
    if (!session) {
        call.SetStatus(WinHTTP_Download_Status_Error);
        return 0;
    }

    WinHTTPLibLogLine(L"SafeDownloadFile: step 1.2");
    call.SetStatus(WinHTTP_Download_Status_Session_Opened);
    URL_COMPONENTS components = {};
    components.dwStructSize = sizeof(components);
    components.dwSchemeLength = static_cast<DWORD>(-1);
    components.dwHostNameLength = static_cast<DWORD>(-1);
    components.dwUrlPathLength = static_cast<DWORD>(-1);
    components.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!m_api.WinHttpCrackUrl(szURL.get(), 0, 0, &components)) {
        WinHTTPLibLog(L"SafeDownloadFile: step 1.3 error code %d",
                      static_cast<int>(GetLastError()));
        call.SetStatus(WinHTTP_Download_Status_Error);
        return 0;
    }

    WinHTTPLibLogLine(L"SafeDownloadFile: step 1.4");
    call.SetStatus(WinHTTP_Download_Status_Url_Cracked);
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
        call.SetStatus(WinHTTP_Download_Status_Error);
        return 0;
    }

    WinHTTPLibLogLine(L"SafeDownloadFile: step 2");
    call.SetStatus(WinHTTP_Download_Status_Connected);
    // Case-sensitive and anywhere in the URL: "HTTPS://" is fetched without the secure flag.
    const bool bSecure = wcsstr(szURL.get(), L"https") != nullptr;
    // The object runs from the path to the end of the URL, so a query part is sent too.
    const wchar_t* szObject = components.lpszUrlPath != nullptr ? components.lpszUrlPath : L"";
    WinHttpHandle request(
        m_api, m_api.WinHttpOpenRequest(connection.get(), L"GET", szObject, L"HTTP/1.1",
                                        WINHTTP_NO_REFERER, g_acceptTypes,
                                        bSecure ? WINHTTP_FLAG_SECURE : WINHTTP_FLAG_REFRESH));
    if (!request) {
        call.SetStatus(WinHTTP_Download_Status_Error);
        return 0;
    }
    call.SetStatus(WinHTTP_Download_Status_Request_Opened);
    WinHTTPLibLogLine(L"SafeDownloadFile: step 3");

    if (call.IsCancelled()) {
        call.EndCancelled();
        return 0;
    }
    call.AskForTheRest(request.get());
    DWORD dwStatusCode = 0;
    if (!call.SendWithAuthentication(request.get(), bSecure, szUserName, szPassword,
                                     &dwStatusCode)) {
        call.SetStatus(WinHTTP_Download_Status_Error);
        return 0;
    }
    // The file is closed inside, before the handles here go in the order they were opened.
    const DWORD dwResult = call.ReceiveIntoFile(request.get(), dwStatusCode, szPathSaveFile);
    request.reset();
    connection.reset();
    session.reset();
    return dwResult;
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

void WinHttpDownloadCall::EndCancelled() {
    SetStatus(WinHTTP_Download_Status_Cancel_By_User);
    WinHTTPLibLogLine(L"SafeDownloadFile return by WinHTTP_Download_Status_Cancel_By_User");
}

void WinHttpDownloadCall::AskForTheRest(HINTERNET hRequest) {
    ResumePoint* pResume = m_context.pResume;
    if (pResume == nullptr || !pResume->CanResume()) return;
    const std::string headers = ResumeRequestHeaders(*pResume);
    // ASCII only: the validator was kept only as printable ASCII.
    const std::wstring wide(headers.begin(), headers.end());
    if (!m_api.WinHttpAddRequestHeaders(hRequest, wide.c_str(), static_cast<DWORD>(wide.size()),
                                        WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE)) {
        // Then the whole package is asked for, and the file starts afresh.
        pResume->Forget();
        return;
    }
    m_bAskedForRest = true;
    WinHTTPLibLog(L"SafeDownloadFile: resume dwCurrentDownloaded = %d, TotalDownloadSize = %d",
                  static_cast<int>(pResume->nBytes), static_cast<int>(pResume->nTotal));
}
