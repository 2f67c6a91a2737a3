#pragma once

// The setup sequence, on a thread of its own started by the dialog's initialisation: download the
// package, decode it, then start the installer or, in download-only mode, copy it next to the
// program. RunSetup runs it whole; its steps are declared here too, in the order they run, so
// that each can be tested on its own.
#include <windows.h>

#include <string>

#include "app/download_folder.h"
#include "app/installer_check.h"
#include "app/installer_launch.h"

class SetupDialogView;
class WinHttpWrapper;

// The download stage: up to six attempts over three kinds of connection. Tries the connection types
// direct, Internet Explorer proxy and default proxy in turn, each with the package address and then
// the alternative one, and stops at the first attempt that succeeds. Between the types a switching
// notice stands on the status line for a second. Every attempt goes through the download object
// pWrapper. Gives the result of the last attempt made: 1 when
// the package file was written, else 0.
int DownloadPackage(SetupDialogView& view, WinHttpWrapper* pWrapper,
                    const std::wstring& szFileSavePath, const std::wstring& url,
                    const std::wstring& alternateUrl);

// Decodes the package into the decoded file and moves that onto the installer file; the move is
// tried after a failed decoding too, and then fails, since a failed decoding leaves no output.
// True when the installer is ready; false when the decoding or the move failed (traced), which
// ends the run as a failed download.
bool DecodeInstaller(const SetupPaths& paths);

// Shows the outcome on the status line, which keeps it until the process ends. On failure the
// run's files, the files of attempts that were given up, and their folder are removed first
// (what is still in use is removed at the next restart; what pHeld holds is let go just before)
// and the progress bar goes back to 0.
void ShowDownloadOutcome(SetupDialogView& view, bool bSucceeded, const SetupPaths& paths,
                         HeldFiles* pHeld);

// Waits while the stop question is open. True when the user has confirmed the stop; otherwise
// the worker is marked as past its stop point and false is returned.
bool StopAtStopPoint();

// Message 1 in a box, or only on the debugger output in download-only mode.
void ReportDownloadFailure(SetupDialogView& view, bool bDownloadOnly);

// Download-only mode's copy of the checked installer, held open by hInstaller, as "SetupB.exe" in
// the program's folder, which its user controls: the folder is held while the copy is made, the
// copy is a new file beside the name, written from the held installer in pieces of a fixed size,
// and it is then moved onto the name, replacing whatever is there (a link itself, not what it
// leads to). False, with the last error set and nothing left behind, when it could not be made
// whole.
bool CopyInstallerNextToProgram(HANDLE hInstaller, const std::wstring& programFolder);

// How a run of the sequence ended.
enum class SetupEnd {
    kInitFailed,          // no window or no download folder: message 2 was shown
    kDownloadFailed,      // no attempt succeeded, the package did not decode, the installer
                          // failed its check or another file than it was started: message 1
                          // shown (traced in a hidden run), the folder removed
    kStoppedByUser,       // the user confirmed the stop question: the dialog has ended
    kDownloadOnlyCopied,  // the installer was copied next to the program: the dialog has ended
    kInstallerLaunched,   // the launch ran, the files were removed or scheduled for removal
};

// Runs the whole sequence for the program's first argument and all its arguments joined, and
// tells how it ended; it never ends the process itself. The installer must meet policy and is
// started through starter.
SetupEnd RunSetup(SetupDialogView& view, const std::wstring& sArgumentFist,
                  const std::wstring& sArgumentTotal, const InstallerStarter& starter,
                  const InstallerPolicy& policy);

// The worker thread, given the dialog's SetupDialogView: RunSetup with the program's own command
// line and the system's process starts, then the end of the process
// where the dialog has not ended already (the dialog's own thread then ends it).
unsigned __stdcall SetupWorkerThread(void* pDialog);
