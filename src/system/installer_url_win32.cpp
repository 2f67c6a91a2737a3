#include "system/installer_url.h"

#include <windows.h>

#include <cwchar>

// The update server's base address is compiled into each program that links this file, through
// its own QERV_UPDATE_SERVER definition (qerv_add_update_server in the build).
#ifndef QERV_UPDATE_SERVER
#error "QERV_UPDATE_SERVER must name the update server's base address"
#endif

namespace {

constexpr int kUrlChars = 1024;
const wchar_t kPackage64[] = QERV_UPDATE_SERVER L"QV3tup2015X64.exe";
const wchar_t kPackage32[] = QERV_UPDATE_SERVER L"QV3tup2015.exe";
static_assert(sizeof(kPackage64) / sizeof(wchar_t) <= kUrlChars,
              "the package address must fit its buffer");

#ifdef _WIN64
// A 64-bit process runs on 64-bit Windows only, and is never under WOW64 itself.
bool IsWindows64Bit() { return true; }
#else
using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, PBOOL);

bool IsWindows64Bit() {
    const HMODULE hKernel = LoadLibraryW(L"Kernel32.dll");
    if (!hKernel) return false;
    // Systems before XP SP2 lack the entry; they are all 32-bit.
    const auto pIsWow64Process = reinterpret_cast<IsWow64ProcessFunction>(
        reinterpret_cast<void*>(GetProcAddress(hKernel, "IsWow64Process")));
    BOOL bWow64 = FALSE;
    const bool bAnswered = pIsWow64Process && pIsWow64Process(GetCurrentProcess(), &bWow64);
    FreeLibrary(hKernel);
    return bAnswered && bWow64;
}
#endif

}  // namespace

std::wstring GetInstallerURL() {
    wchar_t szUrl[kUrlChars] = {};
    wcsncpy(szUrl, IsWindows64Bit() ? kPackage64 : kPackage32, kUrlChars - 1);
    return szUrl;
}

std::wstring GetAlternateInstallerURL() { return std::wstring(); }
