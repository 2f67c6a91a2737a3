#pragma once

#include <windows.h>

#include <cstdint>

// Registry items of HKEY_LOCAL_MACHINE that the setup reads or writes. As a 32-bit process it sees
// the 32-bit view of SOFTWARE on 64-bit Windows, and these keys live in that view (the suite is a
// 32-bit program and writes them there too). A 64-bit build asks for that view explicitly, so
// that it sees what the 32-bit setup sees.
#ifdef _WIN64
constexpr REGSAM kSuiteRegistryView = KEY_WOW64_32KEY;
#else
constexpr REGSAM kSuiteRegistryView = 0;
#endif
constexpr wchar_t kQervKey[] = L"SOFTWARE\\Qerv";
constexpr wchar_t kInstallDirValue[] = L"szQervDir";
constexpr wchar_t kProductNameValue[] = L"ProductName";
constexpr wchar_t kLanguageValue[] = L"fGiaodien";
constexpr wchar_t kRunOnceKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
constexpr wchar_t kRunOnceValue[] = L"QervSetup";

// Reads the REG_SZ value szName of HKEY_LOCAL_MACHINE\szKey into szBuffer, which holds nCapacity
// characters. Gives the length of the string read, or 0 when the key cannot be opened, the value
// is missing, is of another type (REG_EXPAND_SZ included) or does not fit with its terminator.
// The buffer always comes back terminated. A missing key is created, empty.
int RegReadString(const wchar_t* szKey, const wchar_t* szName, wchar_t* szBuffer,
                  std::uint32_t nCapacity);

// Stores szPath, quoted, as the RunOnce value "QervSetup", replacing an earlier one. 1 written,
// 0 failed.
int RegisterRunOnce(const wchar_t* szPath);

// Reads "fGiaodien" of SOFTWARE\Qerv when it is a REG_DWORD of exactly 4 bytes. 1 read (output
// set), 0 otherwise (output untouched).
int ReadLanguageFlag(std::uint32_t* pdwLanguage);
