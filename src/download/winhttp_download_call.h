#pragma once

// One SafeDownloadFile call, as its steps share it: the caller's progress targets and cancel
// flag, the attempt's gate and resume point, and the status that the call publishes. Several
// calls may run on one WinHttpWrapper at a time (a thread given up on beside the next attempt's),
// so nothing of a call lives in the wrapper.
#include <windows.h>

#include <atomic>

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
    // Ends the call at a cancel flag that is set: status 500 and its log line.
    void EndCancelled();

    // Asks for the rest of the package when the resume point holds part of it: the Range and
    // If-Range headers go on the request. When they cannot be added, the point is forgotten and
    // the whole package asked for.
    void AskForTheRest(HINTERNET hRequest);

    // The request and authentication loop; true once the server answered 200 or 206, which is
    // left in *pdwStatusCode. A request that WinHTTP asks to resend is sent again at most ten
    // times, a challenge is answered at most ten times, and neither once the attempt is cancelled.
    bool SendWithAuthentication(HINTERNET hRequest, bool bSecure, const wchar_t* szUserName,
                                const wchar_t* szPassword, DWORD* pdwStatusCode);

    // After a 200 or 206: the body into szPathSaveFile, each piece written as it arrives, after
    // the part already there when the answer continues it. 1 when the whole package is in the
    // file; 0 with the status and the log line of the failure.
    DWORD ReceiveIntoFile(HINTERNET hRequest, DWORD dwStatusCode, const wchar_t* szPathSaveFile);

  private:
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
};
