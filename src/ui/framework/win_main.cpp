// The program's entry point hands control to the framework, which runs the application object.
#include <windows.h>

#include "ui/framework/win_app.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) { AfxWinMain(); }
