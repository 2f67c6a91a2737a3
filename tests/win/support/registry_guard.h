#pragma once

// Values of HKEY_LOCAL_MACHINE as the tests set and read them, always through the 32-bit view,
// where the setup of either build keeps the suite's values, and a guard that puts a value back as
// a test found it.
#include <windows.h>

#include <string>
#include <vector>

namespace testsupport {

using Bytes = std::vector<BYTE>;

// The bytes of a text, with or without its terminator.
Bytes TextBytes(const std::wstring& text, bool bTerminated = true);

// Writes a value, making its key when needed; true when written. view selects the registry view.
bool WriteMachineValue(const wchar_t* key, const wchar_t* name, DWORD type, const Bytes& data,
                       REGSAM view = KEY_WOW64_32KEY);
bool WriteMachineString(const wchar_t* key, const wchar_t* name, const std::wstring& text);
bool WriteMachineDword(const wchar_t* key, const wchar_t* name, DWORD value);
void DeleteMachineValue(const wchar_t* key, const wchar_t* name);
bool MachineKeyExists(const wchar_t* key);
// A REG_SZ or REG_MULTI_SZ value as text, terminators included; empty when missing.
std::wstring ReadMachineText(const wchar_t* key, const wchar_t* name);

// Where MoveFileExW keeps the removals that wait for the next restart.
constexpr wchar_t kSessionManagerKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr wchar_t kPendingValue[] = L"PendingFileRenameOperations";
// The paths scheduled for removal at the next restart, in order.
std::vector<std::wstring> PendingRemovals();

// Keeps one value as the test found it: whatever the test writes is undone when the guard goes,
// by restoring the old data or deleting a value that was not there, and the key with it when the
// test made the key.
class RegistryValueGuard {
  public:
    RegistryValueGuard(const wchar_t* key, const wchar_t* name);
    ~RegistryValueGuard();
    RegistryValueGuard(const RegistryValueGuard&) = delete;
    RegistryValueGuard& operator=(const RegistryValueGuard&) = delete;

  private:
    std::wstring m_key;
    std::wstring m_name;
    bool m_bKeyExisted = false;
    bool m_bValueExisted = false;
    DWORD m_dwType = REG_NONE;
    Bytes m_data;
};

}  // namespace testsupport
