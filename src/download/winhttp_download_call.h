#pragma once

// One SafeDownloadFile call, as its steps share it: the caller's progress targets and cancel
// flag, the attempt's gate and resume point, and the status that the call publishes. Several
// calls may run on one WinHttpWrapper at a time (a thread given up on beside the next attempt's),
// so nothing of a call lives in the wrapper.
#include <windows.h>

#include <atomic>
#include <vector>

#include "download/winhttp_rules.h"
#include "download/winhttp_wrapper.h"

class WinHttpDownloadCall {
  public:
    WinHttpDownloadCall(WinHttpWrapper& wrapper, HWND hWndProgress,
                        const std::atomic<LONG>* pbCancel, std::atomic<LONG>* pnPercent,
                        const DownloadCallContext& context)
        : m_wrapper(wrapper),
          m_api(wrapper.Api()),
          m_hWndProgress(hWndProgress),
          m_pbCancel(pbCancel),
          m_pnPercent(pnPercent),
          m_context(context) {}

    // What the status line shows, written only while the attempt is watched.
    void SetStatus(DWORD dwStatus);
    void SetType(DWORD dwType);

    bool IsCancelled() const { return m_pbCancel != nullptr && m_pbCancel->load() != 0; }
    // Ends the call at a cancel flag that is set: status 500 and its log line; gives 0.
    DWORD EndCancelled();
    // Ends the call at a step that failed (which logged why): the error status; gives 0.
    DWORD Fail();

    // The steps up to the request, in the order they run; each false when the call must end,
    // having logged why. The session of the connection type, for the normalised URL.
    bool OpenSession(DWORD dwType, const wchar_t* szPathUrl);
    // The URL's parts.
    bool CrackUrl();
    // The connection to the host, with the wrapper's timeouts.
    bool Connect();
    // The GET request for the URL's path, over TLS for an https address.
    bool OpenRequest();

    // Asks for the rest of the package when the resume point holds part of it: the Range and
    // If-Range headers go on the request. When they cannot be added, the point is forgotten and
    // the whole package asked for.
    void AskForTheRest();

    // The request and authentication loop; true once the server answered 200 or 206, which is
    // left in *pdwStatusCode. A request that WinHTTP asks to resend is sent again at most ten
    // times, a challenge is answered at most ten times, and neither once the attempt is cancelled.
    bool SendWithAuthentication(const wchar_t* szUserName, const wchar_t* szPassword,
                                DWORD* pdwStatusCode);

    // After a 200 or 206: the body into szPathSaveFile, each piece written as it arrives, after
    // the part already there when the answer continues it. 1 when the whole package is in the
    // file; 0 with the status and the log line of the failure.
    DWORD ReceiveIntoFile(DWORD dwStatusCode, const wchar_t* szPathSaveFile);

  private:
    // The authentication loop's counts and what it last saw.
    struct AuthLoop {
        int nResends = 0;
        int nChallenges = 0;
        DWORD dwProxyAuthScheme = 0;  // non-zero: the proxy's credentials go with the next send
        DWORD dwStatusCode = 0;
        DWORD dwLastStatus = 0;
    };
    enum class Sent { kStatus, kResend, kFailed };
    enum class AuthPass { kAgain, kSucceeded, kFailed };
    // Sends the request once and reads its status code.
    Sent SendRequest(const wchar_t* szUserName, const wchar_t* szPassword, AuthLoop* pLoop);
    // What the status code means for the loop: done, a challenge answered, or the end.
    AuthPass AnswerStatus(const wchar_t* szUserName, const wchar_t* szPassword, AuthLoop* pLoop);
    // A server's challenge, answered at once with the strongest scheme it offers.
    bool AnswerServer(const wchar_t* szUserName, const wchar_t* szPassword);
    // A proxy's challenge: the scheme whose credentials go with the next send.
    bool ChooseProxyScheme(DWORD* pdwProxyAuthScheme);

    // Where the body goes: the bytes of the package before it, and the whole package's size.
    struct BodyStart {
        DWORD dwBase = 0;
        DWORD dwTotal = 0;
        bool bAppend = false;
    };
    bool ChooseStart(HINTERNET hRequest, DWORD dwStatusCode, DWORD dwLength, BodyStart* pStart);
    HANDLE OpenTarget(const wchar_t* szPathSaveFile, const BodyStart& start);
    // Reads the body into hFile; false (status and log line set) when the download must stop.
    bool ReceiveBody(HINTERNET hRequest, HANDLE hFile, const BodyStart& start, DWORD* pdwReceived);
    // The progress bar and the percentage for dwReceived of dwTotal bytes.
    void ShowProgress(DWORD dwReceived, DWORD dwTotal);

    WinHttpWrapper& m_wrapper;
    WinHttpApi& m_api;
    const HWND m_hWndProgress;
    const std::atomic<LONG>* const m_pbCancel;
    std::atomic<LONG>* const m_pnPercent;
    const DownloadCallContext m_context;
    // The request asked for the rest of the package.
    bool m_bAskedForRest = false;
    std::vector<wchar_t> m_szUrl = std::vector<wchar_t>(kUrlBufferChars, L'\0');
    URL_COMPONENTS m_components = {};
    bool m_bSecure = false;
    // Closed in the reverse order of their opening, after the file.
    WinHttpHandle m_session;
    WinHttpHandle m_connection;
    WinHttpHandle m_request;
};
