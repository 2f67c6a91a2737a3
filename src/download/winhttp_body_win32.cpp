// The body of SafeDownloadFile's answer into its file: the length, where the body goes (after
// the part already on disk when the answer continues it, else from byte 0), and the read loop,
// which writes each piece as soon as it has arrived, so that memory stays within one piece.
#include "download/winhttp_download_call.h"

#include "base/scoped_handle.h"
#include "base/sleep.h"
#include "download/send_progress.h"
#include "download/winhttp_lib_log.h"
#include "download/winhttp_rules.h"
#include "system/package_format.h"

#include <memory>
#include <new>
#include <string>

namespace {

// The most one read asks for, whatever the availability query reports: the piece in memory.
constexpr DWORD kMaxReadBytes = 1 << 20;
// Header values kept for the resume rules: validators, ranges. Longer ones count as absent.
constexpr DWORD kHeaderChars = 256;

constexpr DWORD kHttpOk = 200;
constexpr int kAvailabilityTries = 3;
constexpr unsigned kAvailabilityPauseMs = 3000;

// A header of the answer as ASCII text; false when it is absent, too long or not ASCII.
bool QueryText(WinHttpApi& api, HINTERNET hRequest, DWORD dwInfoLevel, std::string* pText) {
    wchar_t szValue[kHeaderChars] = {};
    DWORD dwBytes = sizeof(szValue) - sizeof(wchar_t);
    if (!api.WinHttpQueryHeaders(hRequest, dwInfoLevel, WINHTTP_HEADER_NAME_BY_INDEX, szValue,
                                 &dwBytes, WINHTTP_NO_HEADER_INDEX)) {
        return false;
    }
    pText->clear();
    for (DWORD i = 0; i < dwBytes / sizeof(wchar_t) && szValue[i] != L'\0'; ++i) {
        if (szValue[i] > 0x7F) return false;
        pText->push_back(static_cast<char>(szValue[i]));
    }
    return true;
}

// How the availability query ended.
enum class Available { kSome, kFailed, kCancelled };

// How many bytes can be read now. A failed query is asked again after a pause, up to three
// times; an empty answer on the first two tries also pauses, since the body may still be on its
// way. A cancel seen after a pause ends it before the next query.
Available QueryAvailable(WinHttpApi& api, HINTERNET hRequest, const WinHttpDownloadCall& call,
                         DWORD* pdwSize) {
    for (int nTry = 1;; ++nTry) {
        *pdwSize = 0;
        if (api.WinHttpQueryDataAvailable(hRequest, pdwSize)) {
            if (*pdwSize == 0 && nTry < kAvailabilityTries) SleepFor(kAvailabilityPauseMs);
            return Available::kSome;
        }
        if (nTry == kAvailabilityTries) {
            WinHTTPLibLog(
                L"SafeDownloadFile return by WinHttpQueryDataAvailable error: ErrorCode=%d",
                static_cast<int>(GetLastError()));
            return Available::kFailed;
        }
        SleepFor(kAvailabilityPauseMs);
        if (call.IsCancelled()) return Available::kCancelled;
    }
}

// A read buffer that grows to the largest piece asked for, up to kMaxReadBytes.
class ReadBuffer {
  public:
    // Room for at least one byte and at most dwWanted; null when memory is short.
    unsigned char* Reserve(DWORD dwWanted, DWORD* pdwRoom) {
        if (dwWanted > kMaxReadBytes) dwWanted = kMaxReadBytes;
        if (dwWanted > m_dwCapacity) {
            m_data.reset();
            m_dwCapacity = 0;
            m_data.reset(new (std::nothrow) unsigned char[dwWanted]);
            if (!m_data) return nullptr;
            m_dwCapacity = dwWanted;
        }
        *pdwRoom = dwWanted;
        return m_data.get();
    }

  private:
    std::unique_ptr<unsigned char[]> m_data;
    DWORD m_dwCapacity = 0;
};

}  // namespace

DWORD WinHttpDownloadCall::ReceiveIntoFile(DWORD dwStatusCode, const wchar_t* szPathSaveFile) {
    const HINTERNET hRequest = m_request.get();
    SetStatus(WinHTTP_Download_Status_Response_OK);
    DWORD dwLength = 0;
    DWORD dwSize = sizeof(dwLength);
    // Without a length there is no telling a complete body from a cut one.
    if (!m_api.WinHttpQueryHeaders(
            hRequest, WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER,
            WINHTTP_HEADER_NAME_BY_INDEX, &dwLength, &dwSize, WINHTTP_NO_HEADER_INDEX) ||
        dwLength == 0) {
        SetStatus(WinHTTP_Download_Status_Error);
        return 0;
    }
    WinHTTPLibLog(L"SafeDownloadFile: WinHttpQueryHeaders dwDownloadSize = %d",
                  static_cast<int>(dwLength));
    BodyStart start;
    if (!ChooseStart(hRequest, dwStatusCode, dwLength, &start)) {
        SetStatus(WinHTTP_Download_Status_Error);
        return 0;
    }
    // Nothing more is opened, written or read once the attempt is cancelled.
    if (IsCancelled()) {
        EndCancelled();
        return 0;
    }
    ScopedHandle file(OpenTarget(szPathSaveFile, start));
    if (!file.valid()) {
        SetStatus(WinHTTP_Download_Status_Error);
        WinHTTPLibLogLine(L"SafeDownloadFile return by CreateFileW error");
        return 0;
    }
    // A resumed body starts where the part on disk ends, and so do the bar and the percentage.
    if (start.bAppend) ShowProgress(start.dwBase, start.dwTotal);
    DWORD dwReceived = 0;
    if (!ReceiveBody(hRequest, file.get(), start, &dwReceived)) return 0;

    // Each piece was written as it arrived; the lines of the write phase keep their place.
    WinHTTPLibLogLine(L"Before WriteFile");
    WinHTTPLibLogLine(L"Before CloseHandle");
    file.reset();
    if (dwReceived != start.dwTotal) {
        SetStatus(WinHTTP_Download_Status_Error);
        return 0;
    }
    SetStatus(WinHTTP_Download_Status_Completed);
    return 1;
}

bool WinHttpDownloadCall::ChooseStart(HINTERNET hRequest, DWORD dwStatusCode, DWORD dwLength,
                                      BodyStart* pStart) {
    ResumePoint* pResume = m_context.pResume;
    if (m_bAskedForRest) {
        std::string range, etag, lastModified;
        const bool bRange = QueryText(m_api, hRequest, WINHTTP_QUERY_CONTENT_RANGE, &range);
        const bool bETag = QueryText(m_api, hRequest, WINHTTP_QUERY_ETAG, &etag);
        const bool bDate = QueryText(m_api, hRequest, WINHTTP_QUERY_LAST_MODIFIED, &lastModified);
        switch (JudgeResumeAnswer(dwStatusCode, bRange ? range.c_str() : nullptr, dwLength,
                                  bETag ? etag.c_str() : nullptr,
                                  bDate ? lastModified.c_str() : nullptr, *pResume)) {
            case ResumeAnswer::kAppend:
                *pStart = {pResume->nBytes, pResume->nTotal, true};
                return true;
            case ResumeAnswer::kRestart:
                WinHTTPLibLogLine(L"SafeDownloadFile: resume refused, download from the start");
                break;
            case ResumeAnswer::kRefuse:
                // What is on disk does not fit with this server's answers: the next try asks for
                // the whole package.
                pResume->Forget();
                WinHTTPLibLogLine(L"SafeDownloadFile return by Content-Range refused");
                return false;
        }
    }
    // No package is larger than the decoder accepts.
    if (dwLength > kPackageMaxBytes) {
        if (pResume != nullptr) pResume->Forget();
        return false;
    }
    *pStart = {0, dwLength, false};
    if (pResume != nullptr) {
        // Only a 200 says that its body is the package from byte 0: a 206 that was not asked for
        // is still taken whole, but without a validator, so that no later try continues it.
        const bool bWhole = dwStatusCode == kHttpOk;
        std::string etag, lastModified;
        const bool bETag = bWhole && QueryText(m_api, hRequest, WINHTTP_QUERY_ETAG, &etag);
        const bool bDate =
            bWhole && QueryText(m_api, hRequest, WINHTTP_QUERY_LAST_MODIFIED, &lastModified);
        pResume->StartOver(dwLength, bETag ? etag.c_str() : nullptr,
                           bDate ? lastModified.c_str() : nullptr);
    }
    return true;
}

HANDLE WinHttpDownloadCall::OpenTarget(const wchar_t* szPathSaveFile, const BodyStart& start) {
    // A link in the file's place is opened as itself, not followed: the download runs elevated.
    constexpr DWORD kFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
    if (!start.bAppend) {
        DeleteFileW(szPathSaveFile);
        return CreateFileW(szPathSaveFile, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           OPEN_ALWAYS, kFlags, nullptr);
    }
    // The part must be exactly what the resume point says, or the rest would not fit onto it.
    HANDLE hFile = CreateFileW(szPathSaveFile, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                               nullptr, OPEN_EXISTING, kFlags, nullptr);
    LARGE_INTEGER size = {};
    if (hFile != INVALID_HANDLE_VALUE &&
        (!GetFileSizeEx(hFile, &size) || size.QuadPart != start.dwBase ||
         SetFilePointer(hFile, 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER)) {
        CloseHandle(hFile);
        hFile = INVALID_HANDLE_VALUE;
    }
    if (hFile == INVALID_HANDLE_VALUE) m_context.pResume->Forget();
    return hFile;
}

void WinHttpDownloadCall::ShowProgress(DWORD dwReceived, DWORD dwTotal) {
    if (m_pnPercent != nullptr) m_pnPercent->store(StoredPercent(dwReceived, dwTotal));
    // A thread given up on leaves the bar to the attempt that runs now.
    if (m_hWndProgress != nullptr && (m_context.pGate == nullptr || m_context.pGate->IsOpen())) {
        SendProgress(static_cast<int>(dwTotal), static_cast<int>(dwReceived), m_hWndProgress);
    }
}

bool WinHttpDownloadCall::ReceiveBody(HINTERNET hRequest, HANDLE hFile, const BodyStart& start,
                                      DWORD* pdwReceived) {
    ResumePoint* pResume = m_context.pResume;
    const DWORD dwTotal = start.dwTotal;
    DWORD& dwReceived = *pdwReceived;
    dwReceived = start.dwBase;
    ReadBuffer buffer;
    for (;;) {
        DWORD dwSize = 0;
        const Available available =
            IsCancelled() ? Available::kCancelled : QueryAvailable(m_api, hRequest, *this, &dwSize);
        if (available == Available::kCancelled) {
            EndCancelled();
            return false;
        }
        if (available == Available::kFailed) {
            SetStatus(WinHTTP_Download_Status_Error);
            return false;
        }
        WinHTTPLibLog(L"SafeDownloadFile: WinHttpQueryDataAvailable dwSize = %d",
                      static_cast<int>(dwSize));
        if (dwSize == 0) break;

        DWORD dwRoom = 0;
        unsigned char* pData = buffer.Reserve(dwSize, &dwRoom);
        if (pData == nullptr) {
            SetStatus(WinHTTP_Download_Status_Not_Enough_Buffer);
            WinHTTPLibLogLine(
                L"SafeDownloadFile return by WinHTTP_Download_Status_Not_Enough_Buffer");
            return false;
        }
        DWORD dwRead = 0;
        if (!m_api.WinHttpReadData(hRequest, pData, dwRoom, &dwRead)) {
            SetStatus(WinHTTP_Download_Status_Error);
            WinHTTPLibLogLine(L"SafeDownloadFile return by WinHttpReadData error");
            return false;
        }
        WinHTTPLibLog(L"SafeDownloadFile: WinHttpReadData dwNumberByRead = %d",
                      static_cast<int>(dwRead));
        SetStatus(WinHTTP_Download_Status_Receiving);
        // Looked at once a read has returned, before its bytes count.
        if (IsCancelled()) {
            EndCancelled();
            return false;
        }
        if (m_wrapper.m_bAppend == 1) SetFilePointer(hFile, 0, nullptr, FILE_END);

        // Bytes beyond the announced length are dropped.
        const DWORD dwMissing = dwTotal - dwReceived;
        if (dwRead > dwMissing) dwRead = dwMissing;
        DWORD dwWritten = 0;
        if (dwRead > 0 &&
            (!WriteFile(hFile, pData, dwRead, &dwWritten, nullptr) || dwWritten != dwRead)) {
            // A disk that fails a write is no place to resume on either.
            if (pResume != nullptr) pResume->Forget();
            WinHTTPLibLogLine(L"WriteFile Error !");
            SetStatus(WinHTTP_Download_Status_Error);
            return false;
        }
        dwReceived += dwRead;
        if (pResume != nullptr) pResume->nBytes = dwReceived;

        ShowProgress(dwReceived, dwTotal);
        WinHTTPLibLog(L"SafeDownloadFile dwCurrentDownloaded = %d, TotalDownloadSize = %d",
                      static_cast<int>(dwReceived), static_cast<int>(dwTotal));
        if (dwReceived >= dwTotal) break;
    }
    return true;
}
