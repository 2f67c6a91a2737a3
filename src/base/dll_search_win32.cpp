#include "base/dll_search.h"

#include <windows.h>

namespace {

// What the program and its start-up code load late by name: the late imports, and the
// cryptographic provider that the stack protector's guard is seeded through.
constexpr const wchar_t* kLateImports[] = {L"winhttp.dll", L"version.dll",  L"crypt32.dll",
                                           L"bcrypt.dll",  L"wintrust.dll", L"rsaenh.dll"};

}  // namespace

void RestrictDllSearch() {
    using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
    const auto setDefaultDllDirectories =
        reinterpret_cast<SetDefaultDllDirectoriesFunction>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
    if (setDefaultDllDirectories == nullptr ||
        !setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        RestrictDllSearchWithoutDefaultDirectories();
    }
}

void RestrictDllSearchWithoutDefaultDirectories() {
    SetDllDirectoryW(L"");
    wchar_t szSystem[MAX_PATH] = {};
    const UINT nLength = GetSystemDirectoryW(szSystem, MAX_PATH);
    if (nLength == 0 || nLength >= MAX_PATH) return;
    for (const wchar_t* szName : kLateImports) {
        wchar_t szPath[MAX_PATH * 2] = {};
        // The DLL's own imports are then looked for in its folder first, not in the program's.
        if (wsprintfW(szPath, L"%s\\%s", szSystem, szName) > 0) {
            LoadLibraryExW(szPath, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        }
    }
}
