// The setup sequence on the worker thread, in the order it runs: the download folder, up to six
// download attempts, the decoding of the package into the installer, the outcome on the status
// line and the stop point, then the copy of download-only mode or the installer launch. The
// worker returns how the run ended, and SetupWorkerThread alone turns that into the end of the
// process.
#include "app/setup_worker.h"

#include "app/command_line.h"
#include "base/debug_trace.h"
#include "app/installer_launch.h"
#include "app/installer_launch_command.h"
#include "app/message_table.h"
#include "ui/shared_state.h"
#include "app/download_folder.h"
#include "app/installer_check.h"
#include "base/held_file.h"
#include "base/last_error_keeper.h"
#include "base/sleep.h"
#include "download/abandoned_files.h"
#include "download/download_file.h"
#include "download/winhttp_download_codes.h"
#include "download/winhttp_wrapper.h"
#include "system/file_io.h"
#include "system/installer_url.h"
#include "system/package_decode.h"
#include "system/program_image.h"
#include "ui/setup_dialog_view.h"

#include <windows.h>

#include <shlwapi.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <vector>

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

int DownloadPackage(SetupDialogView& view, WinHttpWrapper* pWrapper,
                    const std::wstring& szFileSavePath, const std::wstring& url,
                    const std::wstring& alternateUrl) {
    const HWND hWndProgress = view.ProgressBar();
    int bRet = 0;
    for (std::size_t i = 0; i < std::size(kDownloadPasses) && bRet == 0; ++i) {
        const DownloadPass& pass = kDownloadPasses[i];
        if (pass.nNoticeBefore != kNoNotice) ShowSwitchNotice(view, pass.nNoticeBefore);
        bRet = DownloadFile(pWrapper, url.c_str(), szFileSavePath.c_str(), hWndProgress, pass.nType)
                   .nResult;
        if (bRet == 0) {
            DebugTrace(pass.szAlternateTrace);
            bRet = DownloadFile(pWrapper, alternateUrl.c_str(), szFileSavePath.c_str(),
                                hWndProgress, pass.nType)
                       .nResult;
        }
    }
    DebugTrace(L"pqrlo - 1: bRet = %d", bRet);
    return bRet;
}

bool DecodeInstaller(const SetupPaths& paths) {
    DebugTrace(L"sDecodedPath: %s", paths.decodedFile.c_str());
    const int nResult = DecodePackageFile(paths.packageFile.c_str(), paths.decodedFile.c_str());
    const int bRet = nResult == kDecodeOk ? 1 : 0;
    DebugTrace(L"pqrlo -2 : bRet: %d", bRet);
    DebugTrace(L"sPathFileRun: %s", paths.installerFile.c_str());
    DebugTrace(L"sDownloadedPath: %s", paths.packageFile.c_str());
    // A failed decoding leaves no output, so the move fails; the run counts as a failed download
    // whatever the move did.
    const bool bMoved = MoveFileExW(paths.decodedFile.c_str(), paths.installerFile.c_str(),
                                    MOVEFILE_REPLACE_EXISTING) != FALSE;
    if (!bMoved) DebugTrace(L"MoveFileEx eror: %d", GetLastError());
    // Which failure it was, for whoever reads the trace: a changed digest, a full disk and a
    // locked file otherwise look alike.
    if (nResult != kDecodeOk) {
        DebugTrace(L"Package not decoded: %d: %hs", nResult, DescribeDecodeResult(nResult));
    }
    return bMoved && bRet == 1;
}

namespace {

constexpr unsigned kCompletedNoticeMs = 1500;
constexpr unsigned kStopQuestionPollMs = 200;

}  // namespace

void ShowDownloadOutcome(SetupDialogView& view, bool bSucceeded, const SetupPaths& paths,
                         HeldFiles* pHeld) {
    if (bSucceeded) {
        DebugTrace(L"pqrlo -3");
        view.PauseStatusText();
        view.SetStatusText(GetMessageText(kMsgDownloadCompleted).c_str());
        SleepFor(kCompletedNoticeMs);
        return;
    }
    DebugTrace(L"pqrlo -4");
    // Whatever the run got as far as writing: the package, the decoding, the installer (let go
    // first, so that it can be deleted). The folder stays held until its files are gone.
    pHeld->installer.reset();
    for (const std::wstring* path :
         {&paths.packageFile, &paths.decodedFile, &paths.installerFile}) {
        DeleteFileW(path->c_str());
    }
    RemoveAbandonedAttemptFiles();
    pHeld->folder.reset();
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
    // One step from "nothing asked" to "past the stop point": a question opened meanwhile is
    // waited for, never written over.
    int nState = kCancelStateNone;
    while (!g_nCancelState.compare_exchange_strong(nState, kCancelStatePastStopPoint)) {
        // The cancel handler has already ended the dialog; nothing is removed and nothing shown.
        if (nState == kCancelStateConfirmed) return true;
        if (nState != kCancelStateAsked) return false;
        SleepFor(kStopQuestionPollMs);
        nState = kCancelStateNone;
    }
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
constexpr std::size_t kCopyPieceBytes = 64 * 1024;
constexpr wchar_t kCopyPartSuffix[] = L".part";
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

// An installer refused before or at its start ends the run as a failed download does.
SetupEnd EndAsRefused(SetupDialogView& view, const SetupPaths& paths, HeldFiles* pHeld,
                      bool bDownloadOnly) {
    ShowDownloadOutcome(view, false, paths, pHeld);
    if (StopAtStopPoint()) return SetupEnd::kStoppedByUser;
    ReportDownloadFailure(view, bDownloadOnly);
    return SetupEnd::kDownloadFailed;
}

// The one download object lives for the rest of the process; the status line polls for it.
WinHttpWrapper* PublishDownloadObject() {
    WinHttpWrapper* pWrapper = new WinHttpWrapper();
    g_pWinHttpWrapper.store(pWrapper);
    return pWrapper;
}

}  // namespace

bool CopyInstallerNextToProgram(HANDLE hInstaller, const std::wstring& programFolder) {
    if (hInstaller == nullptr) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return false;
    }
    // The folder is the user's: held while the copy is made, and reached by the path that leads
    // to it now. The copy is made as a new file beside its name, never one that someone else put
    // there, and then moved onto the name, which replaces a link there itself rather than
    // writing through it.
    const ScopedHandle folder = OpenFolderHeld(programFolder);
    const std::wstring folderPath = folder.valid() ? FinalPathOf(folder.get()) : std::wstring();
    if (folderPath.empty()) return false;
    const std::wstring target = folderPath + L"\\" + kInstallerFileName;
    const std::wstring part =
        target + L"." + std::to_wstring(GetCurrentProcessId()) + kCopyPartSuffix;
    FileHandle copy = FileHandle::CreateNew(part.c_str());
    if (!copy.IsOpen()) return false;
    // Written from the file that was checked, in pieces of a fixed size.
    std::vector<unsigned char> piece(kCopyPieceBytes);
    const ImageReader read = FileImageReader(hInstaller);
    LARGE_INTEGER size = {};
    bool bCopied = GetFileSizeEx(hInstaller, &size) != FALSE;
    for (std::uint64_t at = 0; bCopied && at < static_cast<std::uint64_t>(size.QuadPart);) {
        const std::uint32_t nBytes = static_cast<std::uint32_t>(
            std::min<std::uint64_t>(piece.size(), static_cast<std::uint64_t>(size.QuadPart) - at));
        bCopied = read(at, piece.data(), nBytes) && WriteInPieces(copy, piece.data(), nBytes);
        at += nBytes;
    }
    copy.Close();
    if (bCopied && MoveFileOver(part.c_str(), target.c_str())) return true;
    const LastErrorKeeper keeper;
    RemoveFile(part.c_str());
    return false;
}

SetupEnd RunSetup(SetupDialogView& view, const std::wstring& sArgumentFist,
                  const std::wstring& sArgumentTotal, const InstallerStarter& starter,
                  const InstallerPolicy& policy) {
    DebugTrace(L"sArgumentFist : %s", sArgumentFist.c_str());
    DebugTrace(L"sArgumentTotal : %s", sArgumentTotal.c_str());
    const bool bDownloadOnly = HasSwitch(sArgumentTotal, kSwitchDownloadOnly);
    const bool bSetupOnly = HasSwitch(sArgumentTotal, kSwitchSetupOnly);
    if (bDownloadOnly && !view.Hide()) {
        SleepFor(kHideRetryMs);
        view.Hide();
    }

    WinHttpWrapper* pWrapper = PublishDownloadObject();
    const std::wstring url = GetInstallerURL();
    std::wstring alternateUrl = GetAlternateInstallerURL();
    if (alternateUrl.empty()) alternateUrl = url;
    DebugTrace(L"Link %s %s", url.c_str(), alternateUrl.c_str());

    if (view.MainWindow() == nullptr) return EndAfterInitFailure(view);
    SetupPaths paths;
    HeldFiles held;
    paths.programFolder = ProgramFolder();
    if (!CreateDownloadFolder(&paths, &held.folder)) return EndAfterInitFailure(view);

    if (!bSetupOnly) {
        int bRet = 0;
        {
            const InstallerCheckWarmUp warmUp;
            bRet = DownloadPackage(view, pWrapper, paths.packageFile, url, alternateUrl);
        }
        if (bRet != 0) {
            // An installer by anyone but a pinned publisher is neither started nor copied next to
            // the program, where a later set-up-only run would start it. The one checked stays
            // open from here on, so that it is the one started or copied.
            InstallerCheck check;
            if (DecodeInstaller(paths)) check = CheckInstaller(paths.installerFile, policy);
            if (check.bAccepted) {
                held.installer = std::move(check.file);
                DebugTrace(L"szFileSavePath: %s", paths.installerFile.c_str());
            } else {
                bRet = 0;
            }
        }
        ShowDownloadOutcome(view, bRet != 0, paths, &held);
        if (StopAtStopPoint()) return SetupEnd::kStoppedByUser;
        if (bRet == 0) {
            ReportDownloadFailure(view, bDownloadOnly);
            return SetupEnd::kDownloadFailed;
        }
    }

    // The installer next to the program is whatever lies there: it is started only when it passes
    // the check. With both switches nothing is started, so there is nothing to check.
    if (bSetupOnly && !bDownloadOnly) {
        InstallerCheck check = CheckInstaller(InstallerNextToProgram(paths.programFolder), policy);
        if (!check.bAccepted) return EndAsRefused(view, paths, &held, bDownloadOnly);
        held.installer = std::move(check.file);
    }

    view.Hide();
    if (bDownloadOnly) {
        // With both switches nothing was downloaded, so the copy fails; a failed copy ends the
        // run like a successful one.
        if (!CopyInstallerNextToProgram(held.installer.get(), paths.programFolder)) {
            DebugTrace(L"CopyFile error: %d", GetLastError());
        }
        held.installer.reset();
        RemoveAbandonedAttemptFiles();
        view.EndSetupDialog();
        return SetupEnd::kDownloadOnlyCopied;
    }
    if (RunInstallerLaunch(paths, sArgumentFist, bSetupOnly, view, starter, &held) ==
        LaunchOutcome::kNotTheCheckedFile) {
        return EndAsRefused(view, paths, &held, bDownloadOnly);
    }
    return SetupEnd::kInstallerLaunched;
}

unsigned __stdcall SetupWorkerThread(void* pDialog) {
    SetupDialogView& view = *static_cast<SetupDialogView*>(pDialog);
    switch (RunSetup(view, GetFirstArgument(), GetAllArguments(), kSystemInstallerStarter,
                     kInstallerPolicy)) {
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
