// The installer launch: the system's process starts behind a narrow table, then the launch
// itself with its clean-up.
#include "app/installer_launch.h"

#include "base/debug_trace.h"
#include "app/installer_launch_command.h"
#include "app/message_table.h"
#include "download/abandoned_files.h"
#include "base/held_file.h"
#include "ui/setup_dialog_view.h"

#include <windows.h>

#include <shellapi.h>
#include <string>
#include <vector>

namespace {

// The longest path that QueryFullProcessImageNameW gives, terminator included.
constexpr DWORD kLongestPathChars = 32768;

// Whether the image of the suspended process is the file held open by hFile.
bool IsImageOf(HANDLE hProcess, HANDLE hFile) {
    std::vector<wchar_t> image(kLongestPathChars, L'\0');
    DWORD nChars = kLongestPathChars;
    if (!QueryFullProcessImageNameW(hProcess, 0, image.data(), &nChars)) return false;
    const ScopedHandle started(CreateFileW(image.data(), FILE_READ_ATTRIBUTES,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return started.valid() && IsSameFile(started.get(), hFile);
}

DirectStart StartDirect(HANDLE hInstaller, const wchar_t* szApplication, wchar_t* szCommandLine) {
    STARTUPINFOW startupInfo = {};
    startupInfo.cb = sizeof(startupInfo);
    PROCESS_INFORMATION processInfo = {};
    const DWORD dwFlags = hInstaller != nullptr ? CREATE_SUSPENDED : 0;
    if (!CreateProcessW(szApplication, szCommandLine, nullptr, nullptr, FALSE, dwFlags, nullptr,
                        nullptr, &startupInfo, &processInfo)) {
        return DirectStart::kFailed;
    }
    // The installer runs on by itself; nothing waits for it.
    const ScopedHandle process(processInfo.hProcess);
    const ScopedHandle thread(processInfo.hThread);
    if (hInstaller != nullptr) {
        if (!IsImageOf(process.get(), hInstaller)) {
            TerminateProcess(process.get(), ERROR_FILE_INVALID);
            return DirectStart::kNotTheCheckedFile;
        }
        ResumeThread(thread.get());
    }
    return DirectStart::kStarted;
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

// The run's own files as the launch removes them. In set-up-only mode nothing was downloaded:
// the package and the decoded installer stay unnamed.
SetupPaths DownloadedFiles(const SetupPaths& paths, bool bSetupOnly) {
    if (!bSetupOnly) return paths;
    SetupPaths downloaded;
    downloaded.downloadFolder = paths.downloadFolder;
    return downloaded;
}

// Pending removals run in the order they were registered, and a folder goes only once it is
// empty, so the folder comes last, after the files of attempts that were given up.
void ScheduleRemovals(const SetupPaths& downloaded, const std::wstring& installer) {
    RemoveAtRestart(downloaded.installerFile);
    RemoveAtRestart(downloaded.packageFile);
    RemoveAtRestart(installer);
    RemoveAbandonedAttemptFiles();
    RemoveAtRestart(downloaded.downloadFolder);
}

// The installer and the folder are let go only now, just before they are removed here.
void DeleteInstallerNow(const std::wstring& installer, HeldFiles* pHeld) {
    pHeld->installer.reset();
    DeleteNow(installer);
}

void RemoveFolderNow(const SetupPaths& downloaded, HeldFiles* pHeld) {
    pHeld->folder.reset();
    RemoveFolderNow(downloaded.downloadFolder);
}

// installer is the one to start (named as the command line names it); szFile is the path that
// leads to the held file now.
LaunchOutcome StartInstallerElevated(const SetupPaths& downloaded, const std::wstring& installer,
                                     const std::wstring& szFile, const std::wstring& sArgumentFist,
                                     SetupDialogView& view, const InstallerStarter& starter,
                                     HeldFiles* pHeld) {
    wchar_t szParameters[kLaunchBufferChars] = {};
    if (!ComposeElevatedParameters(sArgumentFist, g_nLanguage.load(), szParameters)) {
        DebugTrace(L"Installer parameters do not fit: %s", sArgumentFist.c_str());
        return LaunchOutcome::kNotStarted;
    }
    DWORD dwError = ERROR_SUCCESS;
    if (starter.startElevated(view.MainWindow(), szFile.c_str(), szParameters, &dwError)) {
        // The running installer and its folder stay; the restart removes them. The dialog is
        // ended only once everything is removed or scheduled (by the caller).
        DeleteNow(downloaded.packageFile);
        DeleteNow(downloaded.installerFile);
        DeleteInstallerNow(installer, pHeld);
        RemoveFolderNow(downloaded, pHeld);
        return LaunchOutcome::kStartedElevated;
    }
    if (dwError != ERROR_CANCELLED) return LaunchOutcome::kNotStarted;

    starter.showElevationDeclined();
    DeleteNow(downloaded.packageFile);
    DeleteInstallerNow(installer, pHeld);
    RemoveAbandonedAttemptFiles();
    RemoveFolderNow(downloaded, pHeld);
    return LaunchOutcome::kElevationDeclined;
}

}  // namespace

LaunchOutcome RunInstallerLaunch(const SetupPaths& paths, const std::wstring& sArgumentFist,
                                 bool bSetupOnly, SetupDialogView& view,
                                 const InstallerStarter& starter, HeldFiles* pHeld) {
    const SetupPaths downloaded = DownloadedFiles(paths, bSetupOnly);
    const std::wstring installer =
        bSetupOnly ? InstallerNextToProgram(paths.programFolder) : paths.installerFile;
    // The checked installer is started by the path that leads to it now, links resolved.
    const HANDLE hInstaller = pHeld->installer.valid() ? pHeld->installer.get() : nullptr;
    const std::wstring held = hInstaller != nullptr ? FinalPathOf(hInstaller) : std::wstring();
    const std::wstring& szFile = held.empty() ? installer : held;

    LaunchOutcome outcome = LaunchOutcome::kNotStarted;
    wchar_t szProcessPath[kLaunchBufferChars] = {};
    if (ComposeDirectCommandLine(installer, sArgumentFist, g_nLanguage.load(), szProcessPath)) {
        DebugTrace(L"szProcessPath: %s", szProcessPath);
        switch (
            starter.startDirect(hInstaller, held.empty() ? nullptr : held.c_str(), szProcessPath)) {
            case DirectStart::kStarted:
                outcome = LaunchOutcome::kStartedDirectly;
                break;
            case DirectStart::kNotTheCheckedFile:
                DebugTrace(L"Installer started is not the one checked: %s", szFile.c_str());
                return LaunchOutcome::kNotTheCheckedFile;
            case DirectStart::kFailed:
                break;
        }
    } else {
        // Never started with a cut path. The elevated start takes the path on its own, so a long
        // one may still be started that way.
        // The path named is the one that did not fit, even where it was never composed whole.
        const std::wstring wanted =
            bSetupOnly ? paths.programFolder + L"\\" + kInstallerFileName : installer;
        DebugTrace(L"szProcessPath does not fit: %s", wanted.c_str());
    }

    if (outcome == LaunchOutcome::kNotStarted && !szFile.empty()) {
        outcome = StartInstallerElevated(downloaded, installer, szFile, sArgumentFist, view,
                                         starter, pHeld);
        if (outcome == LaunchOutcome::kElevationDeclined) return outcome;
    }
    // The installer runs or never will; nothing here removes it or its folder before the restart.
    pHeld->installer.reset();
    pHeld->folder.reset();
    ScheduleRemovals(downloaded, installer);
    if (outcome == LaunchOutcome::kStartedElevated) view.EndSetupDialog();
    return outcome;
}
