#include "base/dll_search.h"

#include <windows.h>

namespace {

constexpr const wchar_t* kLateImports[] = {L"winhttp.dll", L"version.dll", L"crypt32.dll",
                                           L"bcrypt.dll", L"wintrust.dll"};

}  // namespace

void RestrictDllSearch() {
    using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
    const auto setDefaultDllDirectories =
        reinterpret_cast<SetDefaultDllDirectoriesFunction>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
    if (setDefaultDllDirectories != nullptr &&
        setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        return;
    }
    SetDllDirectoryW(L"");
    wchar_t szSystem[MAX_PATH] = {};
    const UINT nLength = GetSystemDirectoryW(szSystem, MAX_PATH);
    if (nLength == 0 || nLength >= MAX_PATH) return;
    for (const wchar_t* szName : kLateImports) {
        wchar_t szPath[MAX_PATH * 2] = {};
        if (wsprintfW(szPath, L"%s\\%s", szSystem, szName) > 0) LoadLibraryW(szPath);
    }
}
