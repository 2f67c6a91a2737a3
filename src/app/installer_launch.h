#pragma once

// The last stage of the setup: start the installer with the user's first argument and a language
// word, elevating through the shell when a plain start fails, then remove what can be removed now
// and schedule the rest for the next restart.
#include <windows.h>

#include <string>

#include "base/scoped_handle.h"

class SetupDialogView;

enum class DirectStart {
    kStarted,            // the installer runs
    kFailed,             // nothing was started: the elevated start is tried
    kNotTheCheckedFile,  // what started was another file than the one checked, and was ended
};

// The steps of the launch that a test can neither perform nor answer: Wine never asks for
// elevation, and nobody clicks the box that follows a declined one. The launch goes through this
// table; the system's entries forward to CreateProcessW, ShellExecuteExW and MessageBoxW.
struct InstallerStarter {
    // CreateProcessW of szApplication (or, when it is null, of the file that the command line
    // names) with szCommandLine as the whole command line. Given hInstaller, the installer held
    // open since its check, the process is created suspended and let run only when its image is
    // that very file; otherwise it is ended before it has run.
    DirectStart (*startDirect)(HANDLE hInstaller, const wchar_t* szApplication,
                               wchar_t* szCommandLine);
    // ShellExecuteExW with the verb "runas"; true when the installer was started elevated,
    // otherwise false with GetLastError() in *pdwError.
    bool (*startElevated)(HWND hWndOwner, const wchar_t* szFile, const wchar_t* szParameters,
                          DWORD* pdwError);
    // Message 6, telling the user that the installer needs administrator rights.
    void (*showElevationDeclined)();
};

extern const InstallerStarter kSystemInstallerStarter;

// Where one run keeps its files. Every field is named once the download folder exists and keeps
// its meaning for the whole run; a file that was never written is simply not there.
struct SetupPaths {
    std::wstring downloadFolder;  // the run's own new folder in the temporary folder
    std::wstring packageFile;     // "Setup.dat" in it: the download
    std::wstring decodedFile;     // "DeSetup.dat" in it: the decoding's output
    std::wstring installerFile;   // "SetupB.exe" in it: the decoded installer
    std::wstring programFolder;   // the folder of the program's own executable
};

// What a run holds open, so that nobody can rename, replace or delete it meanwhile: the download
// folder from its creation until it is removed, and the installer from its check until it has
// been started or copied. Each is let go just before the run removes it itself.
struct HeldFiles {
    ScopedHandle folder;
    ScopedHandle installer;
};

enum class LaunchOutcome {
    kStartedDirectly,
    kStartedElevated,
    kElevationDeclined,
    kNotStarted,
    kNotTheCheckedFile,  // nothing runs; the run ends as when the installer is refused
};

// Starts the installer through starter with the program's first argument and the language word
// of g_nLanguage, then cleans up. In set-up-only mode nothing was downloaded and the installer
// next to the program is started instead. The installer held in pHeld is the one started, by the
// path that leads to it now. Everything is removed or scheduled for removal before this returns;
// after an elevated start the dialog is ended last. The process is not ended here. When another
// file than the held one was started, nothing is removed: the caller ends the run as a failure.
LaunchOutcome RunInstallerLaunch(const SetupPaths& paths, const std::wstring& sArgumentFist,
                                 bool bSetupOnly, SetupDialogView& view,
                                 const InstallerStarter& starter, HeldFiles* pHeld);
