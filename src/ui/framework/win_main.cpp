// The program's entry point: it restricts where DLLs come from before anything else, then hands
// control to the framework, which runs the application object.
#include <windows.h>

#include "base/dll_search.h"
#include "ui/framework/win_app.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    RestrictDllSearch();
    AfxWinMain();
}
