#include "system/old_windows.h"

#include <cwchar>

#include "system/os_description.h"

bool IsOldWindowsVersion(unsigned long dwMajorVersion, unsigned long dwMinorVersion,
                         unsigned char wProductType) {
    if (dwMajorVersion == 5) return true;
    return dwMajorVersion == 6 && dwMinorVersion == 0 && wProductType == kWorkstationProductType;
}

bool IsOldWindowsDescription(const wchar_t* szDescription) {
    return std::wcsstr(szDescription, L"Windows XP") ||
           std::wcsstr(szDescription, L"Windows Vista");
}

bool DecideOldWindows(std::atomic<int>& nCache, const OldWindowsProbes& probes) {
    const int nKnown = nCache.load(std::memory_order_relaxed);
    if (nKnown == 1) return true;
    if (nKnown == 0) return false;

    bool bOld = false;
    unsigned long dwMajorVersion = 0;
    unsigned long dwMinorVersion = 0;
    unsigned char wProductType = 0;
    if (probes.getVersion(&dwMajorVersion, &dwMinorVersion, &wProductType)) {
        bOld = IsOldWindowsVersion(dwMajorVersion, dwMinorVersion, wProductType);
    } else {
        wchar_t szDescription[kOsDescriptionChars] = {};
        // Without a description there is no answer to keep: the next call asks again.
        if (!probes.getDescription(szDescription)) return false;
        bOld = IsOldWindowsDescription(szDescription);
    }
    nCache.store(bOld ? 1 : 0, std::memory_order_relaxed);
    return bOld;
}
