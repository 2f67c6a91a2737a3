#pragma once

#include <windows.h>

// A modal box captioned with the application name, owned by the application's main window (or
// the box that window has open) when there is one. Safe from any thread; gives the button pressed.
int AfxMessageBox(const wchar_t* lpszText, UINT nType = MB_OK);
