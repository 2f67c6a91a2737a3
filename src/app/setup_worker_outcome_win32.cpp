#include "app/setup_worker_outcome.h"

#include "app/debug_trace.h"
#include "app/message_table.h"
#include "app/shared_state.h"
#include "app/sleep.h"
#include "download/download_file.h"
#include "ui/setup_dialog_view.h"

namespace {

constexpr unsigned kCompletedNoticeMs = 1500;
constexpr unsigned kStopQuestionPollMs = 200;

void DeleteIfNamed(const std::wstring& path) {
    if (!path.empty()) DeleteFileW(path.c_str());
}

}  // namespace

void ShowDownloadOutcome(SetupDialogView& view, bool bSucceeded, const FailedDownloadFiles& files) {
    if (bSucceeded) {
        DebugTrace(L"pqrlo -3");
        view.PauseStatusText();
        view.SetStatusText(GetMessageText(kMsgDownloadCompleted).c_str());
        SleepFor(kCompletedNoticeMs);
        return;
    }
    DebugTrace(L"pqrlo -4");
    for (const std::wstring* path : {&files.sDownloadedPath, &files.szFileSavePath,
                                     &files.sDecodedPath, &files.sPathFileRun}) {
        DeleteIfNamed(*path);
    }
    RemoveAbandonedAttemptFiles();
    // A folder that still holds a file in use goes at the next restart, after that file.
    if (!files.szDirectoryDownload.empty() &&
        !RemoveDirectoryW(files.szDirectoryDownload.c_str())) {
        MoveFileExW(files.szDirectoryDownload.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    }
    view.PauseStatusText();
    view.SetProgress(0);
    view.SetStatusText(GetMessageText(kMsgDownloadFailed).c_str());
}

bool StopAtStopPoint() {
    DebugTrace(L"pqrlo -5");
    int nState = g_nCancelState.load();
    while (nState == kCancelStateAsked) {
        SleepFor(kStopQuestionPollMs);
        nState = g_nCancelState.load();
    }
    // The cancel handler has already ended the dialog; nothing is removed and nothing shown.
    if (nState == kCancelStateConfirmed) return true;
    g_nCancelState.store(kCancelStatePastStopPoint);
    return false;
}

void ReportDownloadFailure(SetupDialogView& view, bool bDownloadOnly) {
    const std::wstring text = GetMessageText(kMsgDownloadFailed);
    if (bDownloadOnly) {
        // A hidden run shows no box; the text goes to the debugger output as it is.
        DebugTrace(L"%s", text.c_str());
        return;
    }
    view.ShowMessageBox(text.c_str(), MB_ICONERROR);
}
