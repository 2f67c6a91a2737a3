#pragma once

// The setup sequence, on a thread of its own started by the dialog's initialisation: download the
// package, decode it, then start the installer or, in download-only mode, copy it next to the
// program. pDialog is the SetupDialogView of the dialog. The process ends inside on every path
// but a download-only run and a confirmed stop, which return 0.
unsigned __stdcall SetupWorkerThread(void* pDialog);
