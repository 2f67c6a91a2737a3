#include "download/winhttp_wrapper.h"

#include "base/sleep.h"
#include "download/winhttp_rules.h"
#include "download/send_progress.h"
#include "download/winhttp_lib_log.h"

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
