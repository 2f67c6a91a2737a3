// The program's entry point, and before it the one thing that must come first: restricting where
// DLLs come from. Start-up code runs before the entry point, and some of it loads DLLs by name
// (the stack protector seeds its guard through the system's cryptographic provider, which loads
// further DLLs): the loader runs TLS callbacks before any of it, so the search is restricted in
// one.
#include <windows.h>

#include "base/dll_search.h"
#include "ui/framework/win_app.h"

namespace {

void NTAPI RestrictDllSearchAtLoad(PVOID, DWORD dwReason, PVOID) {
    if (dwReason == DLL_PROCESS_ATTACH) RestrictDllSearch();
}

}  // namespace

// The C runtime's own callbacks sit in ".CRT$XLC" and later; the loader calls them in the order
// of their section names.
extern "C" __attribute__((section(".CRT$XLB"), used))
const PIMAGE_TLS_CALLBACK qervRestrictDllSearchAtLoad = RestrictDllSearchAtLoad;

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) { AfxWinMain(); }
