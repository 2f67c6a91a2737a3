#pragma once

// The setup sequence, on a thread of its own started by the dialog's initialisation: download the
// package, decode it, then start the installer or, in download-only mode, copy it next to the
// program. pDialog is the SetupDialogView of the dialog.
class SetupDialogView;

// How a run of the sequence ended.
enum class SetupEnd {
    kInitFailed,          // no window or no download folder: message 2 was shown
    kDownloadFailed,      // no attempt succeeded or the package did not decode: message 1 shown
                          // (traced in a hidden run), the folder removed
    kStoppedByUser,       // the user confirmed the stop question: the dialog has ended
    kDownloadOnlyCopied,  // the installer was copied next to the program: the dialog has ended
    kInstallerLaunched,   // the launch ran, the files were removed or scheduled for removal
};

// Runs the whole sequence and tells how it ended; it never ends the process itself.
SetupEnd RunSetup(SetupDialogView& view);

// The worker thread: RunSetup, then the end of the process where the dialog has not ended
// already (the dialog's own thread then ends it).
unsigned __stdcall SetupWorkerThread(void* pDialog);
