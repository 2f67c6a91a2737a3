#include "system/old_windows.h"

#include <windows.h>

#include "system/os_description.h"

namespace {

std::atomic<int> g_nOldWindows{-1};

bool GetWindowsVersion(unsigned long* pdwMajorVersion, unsigned long* pdwMinorVersion,
                       unsigned char* pwProductType) {
    OSVERSIONINFOEXW info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    // Systems after Windows 7 may report 6.2 to this program, which still reads as not old.
    if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info))) return false;
    *pdwMajorVersion = info.dwMajorVersion;
    *pdwMinorVersion = info.dwMinorVersion;
    *pwProductType = info.wProductType;
    return true;
}

}  // namespace

bool IsOldWindows() {
    return DecideOldWindows(g_nOldWindows, OldWindowsProbes{GetWindowsVersion, GetOSDescription});
}
