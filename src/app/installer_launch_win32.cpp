// The installer launch: the system's process starts behind a narrow table, then the launch
// itself with its clean-up.
#include "app/installer_launch.h"

#include "app/debug_trace.h"
#include "app/installer_launch_command.h"
#include "app/message_table.h"
#include "download/download_file.h"
#include "system/installer_signer.h"
#include "ui/setup_dialog_view.h"

#include <windows.h>

#include <shellapi.h>
#include <string>
#include <vector>

namespace {

bool StartDirect(wchar_t* szCommandLine) {
    STARTUPINFOW startupInfo = {};
    startupInfo.cb = sizeof(startupInfo);
    PROCESS_INFORMATION processInfo = {};
    if (!CreateProcessW(nullptr, szCommandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startupInfo, &processInfo)) {
        return false;
    }
    // The installer runs on by itself; nothing waits for it.
    CloseHandle(processInfo.hThread);
    CloseHandle(processInfo.hProcess);
    return true;
}

bool ShellStartElevated(HWND hWndOwner, const wchar_t* szFile, const wchar_t* szParameters,
                        DWORD* pdwError) {
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.hwnd = hWndOwner;
    info.lpVerb = L"runas";
    info.lpFile = szFile;
    info.lpParameters = szParameters;
    info.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExW(&info)) {
        *pdwError = GetLastError();
        return false;
    }
    if (info.hProcess != nullptr) CloseHandle(info.hProcess);
    return true;
}

void ShowElevationDeclined() {
    const std::wstring text = GetMessageText(kMsgElevationDeclined);
    MessageBoxW(nullptr, text.c_str(), kInstallationCaption, MB_ICONINFORMATION);
}

}  // namespace

const InstallerStarter kSystemInstallerStarter = {StartDirect, ShellStartElevated,
                                                  ShowElevationDeclined};

bool IsInstallerSignerAccepted(const std::wstring& path, const char* pinsText) {
    std::vector<SignerPin> pins;
    if (!ParseSignerPins(pinsText, &pins)) {
        // The build checks the list, so this is a damaged program: trust nobody.
        DebugTrace(L"Installer signer pins unreadable");
        return false;
    }
    const SignerCheckResult result = CheckInstallerSigner(path.c_str(), pins);
    switch (result.check) {
        case SignerCheck::kNoPins:
            DebugTrace(L"Installer signer not checked: no signer pinned");
            return true;
        case SignerCheck::kPinned:
            DebugTrace(L"Installer signer pinned: %s", result.subject.c_str());
            return true;
        case SignerCheck::kUntrusted:
            DebugTrace(L"Installer signature refused: WinVerifyTrust 0x%08lX: %s",
                       static_cast<unsigned long>(result.trustResult), path.c_str());
            return false;
        case SignerCheck::kNotPinned:
            break;
    }
    DebugTrace(L"Installer signature refused: signer not pinned: %s", result.subject.c_str());
    return false;
}

namespace {

// An empty path is skipped rather than handed to the system, which would schedule or delete
// whatever an empty name resolves to.
void DeleteNow(const std::wstring& path) {
    if (!path.empty()) DeleteFileW(path.c_str());
}

void RemoveFolderNow(const std::wstring& path) {
    if (!path.empty()) RemoveDirectoryW(path.c_str());
}

void RemoveAtRestart(const std::wstring& path) {
    if (!path.empty()) MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

// The files of the launch. In set-up-only mode nothing was downloaded: the package and the
// decoded installer stay unnamed, and the installer is the one next to the program.
struct LaunchFiles {
    std::wstring sDownloadedPath;
    std::wstring sPathFileRun;
    std::wstring szFileSavePath;  // the installer to start
    std::wstring szDirectoryDownload;
};

LaunchFiles FilesOf(const SetupPaths& paths, bool bSetupOnly) {
    if (bSetupOnly) {
        return {{}, {}, InstallerNextToProgram(paths.programFolder), paths.downloadFolder};
    }
    return {paths.packageFile, paths.installerFile, paths.installerFile, paths.downloadFolder};
}

// Pending removals run in the order they were registered, and a folder goes only once it is
// empty, so the folder comes last, after the files of attempts that were given up.
void ScheduleRemovals(const LaunchFiles& files) {
    RemoveAtRestart(files.sPathFileRun);
    RemoveAtRestart(files.sDownloadedPath);
    RemoveAtRestart(files.szFileSavePath);
    RemoveAbandonedAttemptFiles();
    RemoveAtRestart(files.szDirectoryDownload);
}

LaunchOutcome StartInstallerElevated(const LaunchFiles& files, const std::wstring& sArgumentFist,
                                     SetupDialogView& view, const InstallerStarter& starter) {
    wchar_t szParameters[kLaunchBufferChars] = {};
    if (!ComposeElevatedParameters(sArgumentFist, g_nLanguage.load(), szParameters)) {
        DebugTrace(L"Installer parameters do not fit: %s", sArgumentFist.c_str());
        return LaunchOutcome::kNotStarted;
    }
    DWORD dwError = ERROR_SUCCESS;
    if (starter.startElevated(view.MainWindow(), files.szFileSavePath.c_str(), szParameters,
                              &dwError)) {
        // The running installer and its folder stay; the restart removes them. The dialog is
        // ended only once everything is removed or scheduled (by the caller).
        DeleteNow(files.sDownloadedPath);
        DeleteNow(files.sPathFileRun);
        DeleteNow(files.szFileSavePath);
        RemoveFolderNow(files.szDirectoryDownload);
        return LaunchOutcome::kStartedElevated;
    }
    if (dwError != ERROR_CANCELLED) return LaunchOutcome::kNotStarted;

    starter.showElevationDeclined();
    DeleteNow(files.sDownloadedPath);
    DeleteNow(files.szFileSavePath);
    RemoveAbandonedAttemptFiles();
    RemoveFolderNow(files.szDirectoryDownload);
    return LaunchOutcome::kElevationDeclined;
}

}  // namespace

LaunchOutcome RunInstallerLaunch(const SetupPaths& paths, const std::wstring& sArgumentFist,
                                 bool bSetupOnly, SetupDialogView& view,
                                 const InstallerStarter& starter) {
    const LaunchFiles files = FilesOf(paths, bSetupOnly);

    LaunchOutcome outcome = LaunchOutcome::kNotStarted;
    wchar_t szProcessPath[kLaunchBufferChars] = {};
    if (ComposeDirectCommandLine(files.szFileSavePath, sArgumentFist, g_nLanguage.load(),
                                 szProcessPath)) {
        DebugTrace(L"szProcessPath: %s", szProcessPath);
        if (starter.startDirect(szProcessPath)) outcome = LaunchOutcome::kStartedDirectly;
    } else {
        // Never started with a cut path. The elevated start takes the path on its own, so a long
        // one may still be started that way.
        // The path named is the one that did not fit, even where it was never composed whole.
        const std::wstring wanted =
            bSetupOnly ? paths.programFolder + L"\\" + kInstallerFileName : files.szFileSavePath;
        DebugTrace(L"szProcessPath does not fit: %s", wanted.c_str());
    }

    if (outcome == LaunchOutcome::kNotStarted && !files.szFileSavePath.empty()) {
        outcome = StartInstallerElevated(files, sArgumentFist, view, starter);
        if (outcome == LaunchOutcome::kElevationDeclined) return outcome;
    }
    ScheduleRemovals(files);
    if (outcome == LaunchOutcome::kStartedElevated) view.EndSetupDialog();
    return outcome;
}
