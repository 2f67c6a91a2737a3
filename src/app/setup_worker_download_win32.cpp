#include "app/setup_worker_download.h"

#include "app/debug_trace.h"
#include "app/message_table.h"
#include "app/sleep.h"
#include "download/download_file.h"
#include "download/winhttp_download_codes.h"
#include "ui/setup_dialog_view.h"

#include <iterator>

namespace {

constexpr unsigned kSwitchNoticeMs = 1000;
constexpr int kNoNotice = -1;

// One kind of connection, tried twice. The notice says that the previous kind failed.
struct DownloadPass {
    DWORD nType;
    int nNoticeBefore;
    const wchar_t* szAlternateTrace;
};

constexpr DownloadPass kDownloadPasses[] = {
    {WinHTTP_Download_Type_Direct_Connect, kNoNotice, L"DownloadFile 1"},
    {WinHTTP_Download_Type_By_IE_Proxy, kMsgSwitchToIeProxy, L"DownloadFile 2"},
    {WinHTTP_Download_Type_By_Default_Proxy, kMsgSwitchToDefaultProxy, L"DownloadFile 3"},
};

// The worker writes the status line only while the status-line thread is paused.
void ShowSwitchNotice(SetupDialogView& view, int nMessage) {
    view.PauseStatusText();
    view.SetStatusText(GetMessageText(nMessage).c_str());
    SleepFor(kSwitchNoticeMs);
    view.ResumeStatusText();
}

}  // namespace

int DownloadPackage(SetupDialogView& view, DownloadThreadParam* pParam,
                    const std::wstring& szFileSavePath, const std::wstring& url,
                    const std::wstring& alternateUrl) {
    // The record is shared by all attempts; only the first one starts from a cleared record.
    pParam->bCancel = 0;
    pParam->nPercent = 0;
    pParam->bCurlPhase = 0;
    pParam->bFinished = false;
    pParam->nResult = 0;

    const HWND hWndProgress = view.ProgressBar();
    int bRet = 0;
    for (std::size_t i = 0; i < std::size(kDownloadPasses) && bRet == 0; ++i) {
        const DownloadPass& pass = kDownloadPasses[i];
        if (pass.nNoticeBefore != kNoNotice) ShowSwitchNotice(view, pass.nNoticeBefore);
        bRet = DownloadFile(pParam, url.c_str(), szFileSavePath.c_str(), hWndProgress, pass.nType);
        if (bRet == 0) {
            DebugTrace(pass.szAlternateTrace);
            bRet = DownloadFile(pParam, alternateUrl.c_str(), szFileSavePath.c_str(), hWndProgress,
                                pass.nType);
        }
    }
    DebugTrace(L"pqrlo - 1: bRet = %d", bRet);
    return bRet;
}
