#include "install/registry_helpers.h"

#include "base/scoped_reg_key.h"

#include <cwchar>
#include <string>

namespace {

// Opens a key of HKEY_LOCAL_MACHINE in the suite's view, creating it when missing.
bool CreateMachineKey(const wchar_t* szKey, REGSAM access, ScopedRegKey* key) {
    return RegCreateKeyExW(HKEY_LOCAL_MACHINE, szKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                           access | kSuiteRegistryView, nullptr, key->receive(),
                           nullptr) == ERROR_SUCCESS;
}

}  // namespace

int RegReadString(const wchar_t* szKey, const wchar_t* szName, wchar_t* szBuffer,
                  std::uint32_t nCapacity) {
    // A buffer without room for a terminator can hold no string at all.
    if (szBuffer == nullptr || nCapacity == 0) return 0;
    szBuffer[0] = L'\0';

    ScopedRegKey key;
    if (!CreateMachineKey(szKey, KEY_QUERY_VALUE, &key)) return 0;
    DWORD dwType = 0;
    DWORD cbStored = 0;
    if (RegQueryValueExW(key.get(), szName, nullptr, &dwType, nullptr, &cbStored) !=
            ERROR_SUCCESS ||
        dwType != REG_SZ) {
        return 0;
    }

    const DWORD nMaxChars = MAXDWORD / sizeof(wchar_t);
    DWORD cbData = (nCapacity < nMaxChars ? nCapacity : nMaxChars) * sizeof(wchar_t);
    // The type is asked again: the value may have been replaced since the first query.
    if (RegQueryValueExW(key.get(), szName, nullptr, &dwType, reinterpret_cast<BYTE*>(szBuffer),
                         &cbData) != ERROR_SUCCESS ||
        dwType != REG_SZ) {
        // The buffer's content is undefined after a failed read.
        szBuffer[0] = L'\0';
        return 0;
    }

    // A string stored without its terminator comes back unterminated. When there is room the
    // terminator is added; a string that fills the whole buffer is treated like a longer one, as
    // not fitting, rather than handed back cut short.
    const DWORD nChars = cbData / sizeof(wchar_t);
    if (nChars < nCapacity) {
        szBuffer[nChars] = L'\0';
    } else if (szBuffer[nCapacity - 1] != L'\0') {
        szBuffer[0] = L'\0';
        return 0;
    }
    return lstrlenW(szBuffer);
}

int RegisterRunOnce(const wchar_t* szPath) {
    if (szPath == nullptr) return 0;
    // Quoted: the path usually lies in a folder the user can write, and an unquoted path with a
    // space would start whatever program is named by its first word.
    const std::wstring command = L"\"" + std::wstring(szPath) + L"\"";
    if (command.size() >= MAXDWORD / sizeof(wchar_t)) return 0;

    ScopedRegKey key;
    if (!CreateMachineKey(kRunOnceKey, KEY_WRITE, &key)) return 0;
    const DWORD cbData = static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t));
    return RegSetValueExW(key.get(), kRunOnceValue, 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(command.c_str()), cbData) == ERROR_SUCCESS
               ? 1
               : 0;
}

int ReadLanguageFlag(std::uint32_t* pdwLanguage) {
    if (pdwLanguage == nullptr) return 0;

    ScopedRegKey key;
    if (!CreateMachineKey(kQervKey, KEY_QUERY_VALUE, &key)) return 0;
    DWORD dwType = 0;
    DWORD cbData = 0;
    if (RegQueryValueExW(key.get(), kLanguageValue, nullptr, &dwType, nullptr, &cbData) !=
            ERROR_SUCCESS ||
        dwType != REG_DWORD || cbData != sizeof(DWORD)) {
        return 0;
    }

    // Read into a local first, so that a failed read leaves the output untouched.
    DWORD dwValue = 0;
    cbData = sizeof(dwValue);
    if (RegQueryValueExW(key.get(), kLanguageValue, nullptr, &dwType,
                         reinterpret_cast<BYTE*>(&dwValue), &cbData) != ERROR_SUCCESS ||
        dwType != REG_DWORD || cbData != sizeof(DWORD)) {
        return 0;
    }
    *pdwLanguage = dwValue;
    return 1;
}
