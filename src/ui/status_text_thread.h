#pragma once

// The status-line thread: from the moment the worker has made the download object, it rewrites
// the dialog's status line every 500 ms with the connection type, the download stage and one to
// three dots. pDialog is the CQervOnlineSetupDlg; the thread runs until the process ends.
unsigned __stdcall StatusTextThread(void* pDialog);
