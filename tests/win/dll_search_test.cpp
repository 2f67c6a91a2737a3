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

}  // namespace
