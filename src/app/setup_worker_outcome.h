#pragma once

// The end of the download stage: the outcome on the status line, the stop point where a pending
// stop question is waited for, and the report of a failed download.
#include <string>

class SetupDialogView;

// What is left to remove after a failed download; the names are those of the worker's traces.
// Any of the files may be missing or unnamed.
struct FailedDownloadFiles {
    std::wstring sDownloadedPath;      // empty when the download itself failed
    std::wstring szFileSavePath;       // the package file, or the installer once decoded
    std::wstring szDirectoryDownload;  // the download folder
    std::wstring sDecodedPath;         // the decoding's output, when a failed move left it
    std::wstring sPathFileRun;         // the installer, when the package failed to decode
};

// Shows the outcome on the status line, which keeps it until the process ends. On failure the
// downloaded files, the files of attempts that were given up, and their folder are removed first
// (what is still in use is removed at the next restart) and the progress bar goes back to 0.
void ShowDownloadOutcome(SetupDialogView& view, bool bSucceeded, const FailedDownloadFiles& files);

// Waits while the stop question is open. True when the user has confirmed the stop; otherwise
// the worker is marked as past its stop point and false is returned.
bool StopAtStopPoint();

// Message 1 in a box, or only on the debugger output in download-only mode.
void ReportDownloadFailure(SetupDialogView& view, bool bDownloadOnly);
