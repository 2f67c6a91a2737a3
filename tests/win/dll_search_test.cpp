// Where DLLs come from once the entry point has restricted the search.
#include <gtest/gtest.h>

#include <windows.h>

#include "base/dll_search.h"
#include "test_support.h"

namespace {

// A DLL of a system DLL's kind planted beside the program is found by name before the
// restriction, and no longer after it. Each case runs in a process of its own, so the
// restriction stays with this one.
TEST(RestrictDllSearch, ADllBesideTheProgramIsNoLongerFound) {
    const std::wstring planted = testsupport::BesideTestProgram(L"qerv_planted_probe.dll");
    std::wstring source = testsupport::Fixture(L"planted\\version");  // named as a program
    source.replace(source.size() - 3, 3, L"dll");
    ASSERT_TRUE(CopyFileW(source.c_str(), planted.c_str(), FALSE));
    HMODULE hBefore = LoadLibraryW(L"qerv_planted_probe.dll");
    ASSERT_NE(hBefore, nullptr);
    FreeLibrary(hBefore);

    RestrictDllSearch();
    HMODULE hAfter = LoadLibraryW(L"qerv_planted_probe.dll");
    EXPECT_EQ(hAfter, nullptr);
    if (hAfter != nullptr) FreeLibrary(hAfter);
    // The system's own DLLs are still found by name.
    HMODULE hSystem = LoadLibraryW(L"version.dll");
    EXPECT_NE(hSystem, nullptr);
    if (hSystem != nullptr) FreeLibrary(hSystem);
    DeleteFileW(planted.c_str());
    DeleteFileW(testsupport::BesideTestProgram(L"planted-dll-loaded.txt").c_str());
}

// Where the system lacks SetDefaultDllDirectories, the DLLs that the program and its start-up
// code load late are loaded at once from the system folder, so that their first use finds them
// loaded instead of searching the program's folder.
TEST(RestrictDllSearch, WithoutDefaultDirectoriesTheLateDllsComeFromTheSystemFolder) {
    RestrictDllSearchWithoutDefaultDirectories();
    wchar_t szSystem[MAX_PATH] = {};
    const UINT nSystem = GetSystemDirectoryW(szSystem, MAX_PATH);
    ASSERT_GT(nSystem, 0u);
    for (const wchar_t* szName :
         {L"winhttp.dll", L"version.dll", L"crypt32.dll", L"bcrypt.dll", L"wintrust.dll"}) {
        SCOPED_TRACE(szName);
        const HMODULE hModule = GetModuleHandleW(szName);
        ASSERT_NE(hModule, nullptr);
        wchar_t szPath[MAX_PATH] = {};
        ASSERT_GT(GetModuleFileNameW(hModule, szPath, MAX_PATH), 0u);
        EXPECT_EQ(_wcsnicmp(szPath, szSystem, nSystem), 0) << szPath;
    }
}

}  // namespace
