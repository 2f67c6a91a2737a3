// The setup sequence on the worker thread, in the order it runs: the download folder, up to six
// download attempts, the decoding of the package into the installer, the outcome on the status
// line and the stop point, then the copy of download-only mode or the installer launch. The
// worker returns how the run ended, and SetupWorkerThread alone turns that into the end of the
// process.
#include "app/setup_worker.h"

#include "app/command_line.h"
#include "app/debug_trace.h"
#include "app/installer_launch.h"
#include "app/installer_launch_command.h"
#include "app/message_table.h"
#include "app/shared_state.h"
#include "base/security_descriptor.h"
#include "base/sleep.h"
#include "download/download_file.h"
#include "download/winhttp_download_codes.h"
#include "download/winhttp_wrapper.h"
#include "system/installer_url.h"
#include "system/package_decode.h"
#include "ui/setup_dialog_view.h"

#include <windows.h>
#include <iterator>
#include <shlwapi.h>

namespace {

constexpr DWORD kPathBufferChars = 1024;
// GetTempFileNameW writes at most MAX_PATH characters, so a longer temporary folder is refused.
constexpr DWORD kTempFolderLimit = MAX_PATH;
constexpr wchar_t kUniqueNamePrefix[] = L"0";
constexpr wchar_t kPackageFileName[] = L"Setup.dat";
constexpr wchar_t kDecodedFileName[] = L"DeSetup.dat";

// The folder lies in the user's own temporary folder while everything in it is written, read
// and started elevated: only SYSTEM and Administrators may touch it, with nothing inherited from
// the user's folder, so that no process of the user can swap the package or the installer or
// plant files beside them.
constexpr wchar_t kDownloadFolderSecurity[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

// Creates szPath with the folder's protected access list, and refuses it (last error
// ERROR_REPARSE_ATTRIBUTE_CONFLICT) when what stands there afterwards is not a plain folder: a
// mount point or link in its place would send the elevated writes and deletes elsewhere.
bool CreateProtectedFolder(const wchar_t* szPath) {
    SddlSecurityAttributes security(kDownloadFolderSecurity);
    if (security.get() == nullptr || !CreateDirectoryW(szPath, security.get())) return false;
    const DWORD dwAttributes = GetFileAttributesW(szPath);
    if (dwAttributes == INVALID_FILE_ATTRIBUTES || (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        SetLastError(ERROR_REPARSE_ATTRIBUTE_CONFLICT);
        return false;
    }
    return true;
}

}  // namespace

bool CreateDownloadFolder(SetupPaths* pPaths) {
    wchar_t szFileSavePath[kPathBufferChars] = {};
    const DWORD nLength = GetTempPathW(kPathBufferChars, szFileSavePath);
    if (nLength == 0 || nLength >= kTempFolderLimit) return false;

    DebugTrace(L"szFileSavePath 1: %s", szFileSavePath);
    // The length is below MAX_PATH, so the backslash always fits.
    if (szFileSavePath[nLength - 1] != L'\\') {
        szFileSavePath[nLength] = L'\\';
        szFileSavePath[nLength + 1] = L'\0';
    }
    DebugTrace(L"szFileSavePath 2: %s", szFileSavePath);

    wchar_t szTempFolder[kPathBufferChars] = {};
    lstrcpynW(szTempFolder, szFileSavePath, kPathBufferChars);
    const UINT nUnique = GetTempFileNameW(szTempFolder, kUniqueNamePrefix, 0, szFileSavePath);
    DebugTrace(L"szFileSavePath 2.e: %s", szFileSavePath);
    if (nUnique == 0) {
        DebugTrace(L"szFileSavePath 2.1: %d", GetLastError());
        return false;
    }
    // The unique name becomes a folder: its empty file is replaced by a folder of that name.
    if (!DeleteFileW(szFileSavePath)) {
        DebugTrace(L"szFileSavePath 2.2: %d", GetLastError());
        return false;
    }
    if (!CreateProtectedFolder(szFileSavePath)) {
        DebugTrace(L"szFileSavePath 2.3: %d", GetLastError());
        return false;
    }

    DebugTrace(L"szFileSavePath 3: %s", szFileSavePath);
    pPaths->downloadFolder = szFileSavePath;
    DebugTrace(L"szFileSavePath 4: %s", szFileSavePath);
    pPaths->packageFile = pPaths->downloadFolder + L"\\" + kPackageFileName;
    DebugTrace(L"szDirectoryDownload : %s", pPaths->downloadFolder.c_str());
    DebugTrace(L"szFileSavePath 5: %s", pPaths->packageFile.c_str());
    pPaths->decodedFile = pPaths->downloadFolder + L"\\" + kDecodedFileName;
    pPaths->installerFile = pPaths->downloadFolder + L"\\" + kInstallerFileName;
    return true;
}

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

bool DecodeInstaller(const SetupPaths& paths) {
    DebugTrace(L"sDecodedPath: %s", paths.decodedFile.c_str());
    const int bRet =
        DecodePackageFile(paths.packageFile.c_str(), paths.decodedFile.c_str()) == kDecodeOk ? 1
                                                                                             : 0;
    DebugTrace(L"pqrlo -2 : bRet: %d", bRet);
    DebugTrace(L"sPathFileRun: %s", paths.installerFile.c_str());
    DebugTrace(L"sDownloadedPath: %s", paths.packageFile.c_str());
    // A failed decoding leaves no output, so the move fails; the run counts as a failed download
    // whatever the move did.
    if (!MoveFileExW(paths.decodedFile.c_str(), paths.installerFile.c_str(),
                     MOVEFILE_REPLACE_EXISTING)) {
        DebugTrace(L"MoveFileEx eror: %d", GetLastError());
        return false;
    }
    return bRet == 1;
}

namespace {

constexpr unsigned kCompletedNoticeMs = 1500;
constexpr unsigned kStopQuestionPollMs = 200;

}  // namespace

void ShowDownloadOutcome(SetupDialogView& view, bool bSucceeded, const SetupPaths& paths) {
    if (bSucceeded) {
        DebugTrace(L"pqrlo -3");
        view.PauseStatusText();
        view.SetStatusText(GetMessageText(kMsgDownloadCompleted).c_str());
        SleepFor(kCompletedNoticeMs);
        return;
    }
    DebugTrace(L"pqrlo -4");
    // Whatever the run got as far as writing: the package, the decoding, the installer.
    for (const std::wstring* path :
         {&paths.packageFile, &paths.decodedFile, &paths.installerFile}) {
        DeleteFileW(path->c_str());
    }
    RemoveAbandonedAttemptFiles();
    // A folder that still holds a file in use goes at the next restart, after that file.
    if (!RemoveDirectoryW(paths.downloadFolder.c_str())) {
        MoveFileExW(paths.downloadFolder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
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

// The record that shows the current attempt to the worker. Only the launcher writes it (an
// attempt's thread works on the attempt's own state), and it lives as long as the process.
DownloadThreadParam& DownloadRecord() {
    static DownloadThreadParam record;
    return record;
}

}  // namespace

SetupEnd RunSetup(SetupDialogView& view, const std::wstring& sArgumentFist,
                  const std::wstring& sArgumentTotal, const InstallerStarter& starter) {
    DebugTrace(L"sArgumentFist : %s", sArgumentFist.c_str());
    DebugTrace(L"sArgumentTotal : %s", sArgumentTotal.c_str());
    const bool bDownloadOnly = HasSwitch(sArgumentTotal, kSwitchDownloadOnly);
    const bool bSetupOnly = HasSwitch(sArgumentTotal, kSwitchSetupOnly);
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
    SetupPaths paths;
    paths.programFolder = ProgramFolder();
    if (!CreateDownloadFolder(&paths)) return EndAfterInitFailure(view);

    if (!bSetupOnly) {
        int bRet = DownloadPackage(view, &DownloadRecord(), paths.packageFile, url, alternateUrl);
        if (bRet != 0) {
            // An installer by anyone but a pinned publisher is neither started nor copied next to
            // the program, where a later set-up-only run would start it.
            if (DecodeInstaller(paths) &&
                IsInstallerSignerAccepted(paths.installerFile, kInstallerSigners)) {
                DebugTrace(L"szFileSavePath: %s", paths.installerFile.c_str());
            } else {
                bRet = 0;
            }
        }
        ShowDownloadOutcome(view, bRet != 0, paths);
        if (StopAtStopPoint()) return SetupEnd::kStoppedByUser;
        if (bRet == 0) {
            ReportDownloadFailure(view, bDownloadOnly);
            return SetupEnd::kDownloadFailed;
        }
    }

    // The installer next to the program is whatever lies there: it is started only when signed by
    // a pinned publisher. With both switches nothing is started, so there is nothing to check.
    if (bSetupOnly && !bDownloadOnly &&
        !IsInstallerSignerAccepted(InstallerNextToProgram(paths.programFolder),
                                   kInstallerSigners)) {
        ShowDownloadOutcome(view, false, paths);
        if (StopAtStopPoint()) return SetupEnd::kStoppedByUser;
        ReportDownloadFailure(view, bDownloadOnly);
        return SetupEnd::kDownloadFailed;
    }

    view.Hide();
    if (bDownloadOnly) {
        // With both switches nothing was downloaded, so the copy fails; a failed copy ends the
        // run like a successful one.
        const std::wstring target = paths.programFolder + L"\\" + kInstallerFileName;
        CopyFileW(paths.installerFile.c_str(), target.c_str(), FALSE);
        view.EndSetupDialog();
        return SetupEnd::kDownloadOnlyCopied;
    }
    RunInstallerLaunch(paths, sArgumentFist, bSetupOnly, view, starter);
    return SetupEnd::kInstallerLaunched;
}

unsigned __stdcall SetupWorkerThread(void* pDialog) {
    SetupDialogView& view = *static_cast<SetupDialogView*>(pDialog);
    switch (RunSetup(view, GetFirstArgument(), GetAllArguments(), kSystemInstallerStarter)) {
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
