// Resource and control identifiers of the setup, shared by the resource script and the code. Plain
// macros, because the resource compiler reads this file too.
#pragma once

#define IDD_QERVONLINESETUP_DIALOG 102
#define IDR_MAINFRAME 128
#define IDI_TRAY_FRAME_FIRST 129
#define IDI_TRAY_FRAME_SECOND 130
#define IDB_HEADER 130

#define IDC_PROGRESS 1003
#define IDC_CANCEL_BUTTON 1005
#define IDC_STATUS_TEXT 1007

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
