#include "app/setup_worker.h"

#include "app/command_line.h"
#include "app/debug_trace.h"
#include "app/installer_launch.h"
#include "app/installer_launch_command.h"
#include "app/message_table.h"
#include "app/setup_worker_decode.h"
#include "app/setup_worker_download.h"
#include "app/setup_worker_folder.h"
#include "app/setup_worker_outcome.h"
#include "app/shared_state.h"
#include "app/sleep.h"
#include "download/download_file.h"
#include "download/winhttp_wrapper.h"
#include "system/installer_url.h"
#include "ui/setup_dialog_view.h"

#include <windows.h>

#include <shlwapi.h>

namespace {

constexpr DWORD kModulePathChars = 1024;
// The worker may start before the dialog is first shown; hiding then waits for it once.
constexpr unsigned kHideRetryMs = 500;

// The folder of the program's own executable, or empty when its path is unknown.
std::wstring ProgramFolder() {
    wchar_t szPath[kModulePathChars] = {};
    const DWORD nLength = GetModuleFileNameW(nullptr, szPath, kModulePathChars);
    if (nLength == 0 || nLength >= kModulePathChars) return {};
    PathRemoveFileSpecW(szPath);
    return szPath;
}

SetupEnd EndAfterInitFailure(SetupDialogView& view) {
    view.ShowMessageBox(GetMessageText(kMsgInitFailed).c_str(), MB_ICONERROR);
    return SetupEnd::kInitFailed;
}

// The one download object lives for the rest of the process; the status line polls for it.
void PublishDownloadObject() { g_pWinHttpWrapper.store(new WinHttpWrapper()); }

// The record shared by the attempts lives for the rest of the process too: a cancelled attempt's
// thread may still write to it after the worker has returned.
DownloadThreadParam& DownloadRecord() {
    static DownloadThreadParam record;
    return record;
}

}  // namespace

SetupEnd RunSetup(SetupDialogView& view) {
    InstallerLaunchInput launch;
    launch.programFolder = ProgramFolder();

    launch.sArgumentFist = GetFirstArgument();
    DebugTrace(L"sArgumentFist : %s", launch.sArgumentFist.c_str());
    launch.sArgumentTotal = GetAllArguments();
    DebugTrace(L"sArgumentTotal : %s", launch.sArgumentTotal.c_str());
    const bool bDownloadOnly = HasSwitch(launch.sArgumentTotal, kSwitchDownloadOnly);
    if (bDownloadOnly && !view.Hide()) {
        SleepFor(kHideRetryMs);
        view.Hide();
    }

    PublishDownloadObject();
    const std::wstring url = GetInstallerURL();
    std::wstring alternateUrl = GetAlternateInstallerURL();
    if (alternateUrl.empty()) alternateUrl = url;
    DebugTrace(L"Link %s %s", url.c_str(), alternateUrl.c_str());

    if (view.MainWindow() == nullptr) return EndAfterInitFailure(view);
    DownloadFolder folder;
    if (!CreateDownloadFolder(&folder)) return EndAfterInitFailure(view);
    launch.szDirectoryDownload = folder.szDirectoryDownload;
    launch.szFileSavePath = folder.szFileSavePath;

    if (!HasSwitch(launch.sArgumentTotal, kSwitchSetupOnly)) {
        int bRet =
            DownloadPackage(view, &DownloadRecord(), folder.szFileSavePath, url, alternateUrl);
        if (bRet != 0) {
            DecodedInstaller installer;
            // A package that does not become the installer ends the run like a failed download.
            if (!DecodeInstaller(folder.szFileSavePath, folder.sDecodedPath,
                                 folder.szDirectoryDownload, &bRet, &installer)) {
                bRet = 0;
            }
            launch.sDownloadedPath = installer.sDownloadedPath;
            launch.sPathFileRun = installer.sPathFileRun;
            if (bRet != 0) {
                launch.szFileSavePath = installer.sPathFileRun;
                DebugTrace(L"szFileSavePath: %s", launch.szFileSavePath.c_str());
            }
        }

        ShowDownloadOutcome(view, bRet != 0,
                            {launch.sDownloadedPath, launch.szFileSavePath,
                             launch.szDirectoryDownload, folder.sDecodedPath, launch.sPathFileRun});
        if (StopAtStopPoint()) return SetupEnd::kStoppedByUser;
        if (bRet == 0) {
            ReportDownloadFailure(view, bDownloadOnly);
            return SetupEnd::kDownloadFailed;
        }
    }

    view.Hide();
    if (bDownloadOnly) {
        // A failed copy ends the run like a successful one.
        const std::wstring target = launch.programFolder + L"\\" + kInstallerFileName;
        CopyFileW(launch.szFileSavePath.c_str(), target.c_str(), FALSE);
        view.EndSetupDialog();
        return SetupEnd::kDownloadOnlyCopied;
    }
    RunInstallerLaunch(launch, view, kSystemInstallerStarter);
    return SetupEnd::kInstallerLaunched;
}

unsigned __stdcall SetupWorkerThread(void* pDialog) {
    SetupDialogView& view = *static_cast<SetupDialogView*>(pDialog);
    switch (RunSetup(view)) {
        case SetupEnd::kStoppedByUser:
        case SetupEnd::kDownloadOnlyCopied:
            // The dialog has ended; its thread ends the process.
            return 0;
        case SetupEnd::kInitFailed:
        case SetupEnd::kDownloadFailed:
        case SetupEnd::kInstallerLaunched:
            break;
    }
    // The one place where the workflow ends the process, whatever the other threads are doing.
    // No icon may stay behind in the notification area.
    view.RemoveTrayIcon();
    ExitProcess(0);
}
