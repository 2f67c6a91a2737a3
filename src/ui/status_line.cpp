#include "ui/status_line.h"

#include "app/message_table.h"
#include "download/winhttp_download_codes.h"

namespace {

// No download status has this value, yet the line has a text for it.
constexpr std::uint32_t kStatusSendingRequest = 5;

constexpr int kMaxDotCount = 3;

struct StageText {
    std::uint32_t dwStatus;
    std::int32_t nMessage;
};

constexpr StageText kStageTexts[] = {
    {WinHTTP_Download_Status_Completed, kMsgDownloadCompleted},
    {WinHTTP_Download_Status_Session_Opened, kMsgStageCheckInternet},
    {WinHTTP_Download_Status_Url_Cracked, kMsgStageAnalyzing},
    {WinHTTP_Download_Status_Connected, kMsgStageConnecting},
    {WinHTTP_Download_Status_Request_Opened, kMsgStageInitRequest},
    {kStatusSendingRequest, kMsgStageSendingRequest},
    {WinHTTP_Download_Status_Response_OK, kMsgStageDownloading},
    {WinHTTP_Download_Status_Not_Enough_Buffer, kMsgStageNoSpace},
    {WinHTTP_Download_Status_Receiving, kMsgStageDownloading},
    {WinHTTP_Download_Status_Not_Started, kMsgStageInitResource},
    {WinHTTP_Download_Status_Error, kMsgStageResuming},
    {WinHTTP_Download_Status_Init, kMsgStageInitConnection},
};

std::wstring PrefixText(std::uint32_t dwType) {
    switch (dwType) {
        case WinHTTP_Download_Type_By_Default_Proxy:
            return GetMessageText(kMsgDefaultProxyPrefix);
        case WinHTTP_Download_Type_By_IE_Proxy:
            return GetMessageText(kMsgIeProxyPrefix);
        default:
            return std::wstring();
    }
}

std::wstring StageTextOf(std::uint32_t dwStatus) {
    for (const StageText& stage : kStageTexts) {
        if (stage.dwStatus == dwStatus) {
            return GetMessageText(stage.nMessage);
        }
    }
    return std::wstring();
}

}  // namespace

int NextDotCount(int nDots) { return nDots >= kMaxDotCount ? kFirstDotCount : nDots + 1; }

std::wstring ComposeStatusLine(std::uint32_t dwType, std::uint32_t dwStatus, int nDots) {
    return PrefixText(dwType) + StageTextOf(dwStatus) + std::wstring(nDots, L'.');
}

void StatusTextGate::BeginWrite() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return !m_bHeld; });
    m_bWriting = true;
}

void StatusTextGate::EndWrite() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bWriting = false;
    }
    m_changed.notify_all();
}

void StatusTextGate::Hold() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_bHeld = true;
    m_changed.wait(lock, [this] { return !m_bWriting; });
}

void StatusTextGate::Release() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bHeld = false;
    }
    m_changed.notify_all();
}

StatusTextGate& TheStatusTextGate() {
    // Never destroyed: the status-text thread may still use it while the process exits.
    static StatusTextGate* const pGate = new StatusTextGate;
    return *pGate;
}
