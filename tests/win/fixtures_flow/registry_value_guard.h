#pragma once

// Keeps one value of HKEY_LOCAL_MACHINE as a test found it: whatever the test writes is undone
// when the guard goes, by restoring the old data or deleting a value that was not there. Every
// key is reached through the 32-bit view, where the setup of either build keeps its values.
#include <windows.h>

#include <string>
#include <vector>

namespace flowfixtures {

// Opens (or with bCreate makes) a key of HKEY_LOCAL_MACHINE in the 32-bit view.
inline HKEY OpenMachineKey(const wchar_t* key, REGSAM access, bool bCreate) {
    HKEY handle = nullptr;
    const LSTATUS status =
        bCreate ? RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, access | KEY_WOW64_32KEY,
                                  nullptr, &handle, nullptr)
                : RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, access | KEY_WOW64_32KEY, &handle);
    return status == ERROR_SUCCESS ? handle : nullptr;
}

// RegGetValueW on a value of HKEY_LOCAL_MACHINE in the 32-bit view.
inline LSTATUS GetMachineValue(const wchar_t* key, const wchar_t* name, DWORD flags, DWORD* type,
                               void* data, DWORD* size) {
    const HKEY handle = OpenMachineKey(key, KEY_QUERY_VALUE, false);
    if (handle == nullptr) return ERROR_FILE_NOT_FOUND;
    const LSTATUS status = RegGetValueW(handle, nullptr, name, flags, type, data, size);
    RegCloseKey(handle);
    return status;
}

class RegistryValueGuard {
  public:
    RegistryValueGuard(const wchar_t* key, const wchar_t* name) : key_(key), name_(name) {
        DWORD size = 0;
        if (GetMachineValue(key, name, RRF_RT_ANY | RRF_NOEXPAND, &type_, nullptr, &size) !=
            ERROR_SUCCESS) {
            return;
        }
        data_.resize(size);
        existed_ = GetMachineValue(key, name, RRF_RT_ANY | RRF_NOEXPAND, &type_, data_.data(),
                                   &size) == ERROR_SUCCESS;
        data_.resize(size);
    }
    ~RegistryValueGuard() {
        const HKEY key = OpenMachineKey(key_.c_str(), KEY_SET_VALUE, true);
        if (key == nullptr) return;
        if (existed_) {
            RegSetValueExW(key, name_.c_str(), 0, type_, data_.data(),
                           static_cast<DWORD>(data_.size()));
        } else {
            RegDeleteValueW(key, name_.c_str());
        }
        RegCloseKey(key);
    }
    RegistryValueGuard(const RegistryValueGuard&) = delete;
    RegistryValueGuard& operator=(const RegistryValueGuard&) = delete;

    const std::vector<BYTE>& original() const { return data_; }

  private:
    std::wstring key_;
    std::wstring name_;
    bool existed_ = false;
    DWORD type_ = REG_NONE;
    std::vector<BYTE> data_;
};

// Writes a value of HKEY_LOCAL_MACHINE as the test needs it; true when written.
inline bool WriteMachineValue(const wchar_t* key, const wchar_t* name, DWORD type, const void* data,
                              DWORD bytes) {
    const HKEY handle = OpenMachineKey(key, KEY_SET_VALUE, true);
    if (handle == nullptr) return false;
    const bool ok = RegSetValueExW(handle, name, 0, type, static_cast<const BYTE*>(data), bytes) ==
                    ERROR_SUCCESS;
    RegCloseKey(handle);
    return ok;
}

inline bool WriteMachineString(const wchar_t* key, const wchar_t* name, const std::wstring& text) {
    return WriteMachineValue(key, name, REG_SZ, text.c_str(),
                             static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

inline void DeleteMachineValue(const wchar_t* key, const wchar_t* name) {
    const HKEY handle = OpenMachineKey(key, KEY_SET_VALUE, false);
    if (handle == nullptr) return;
    RegDeleteValueW(handle, name);
    RegCloseKey(handle);
}

// A REG_SZ or REG_MULTI_SZ value as text, terminators included; empty when missing.
inline std::wstring ReadMachineText(const wchar_t* key, const wchar_t* name) {
    DWORD size = 0;
    if (GetMachineValue(key, name, RRF_RT_REG_SZ | RRF_RT_REG_MULTI_SZ, nullptr, nullptr, &size) !=
        ERROR_SUCCESS) {
        return {};
    }
    std::wstring text(size / sizeof(wchar_t), L'\0');
    if (GetMachineValue(key, name, RRF_RT_REG_SZ | RRF_RT_REG_MULTI_SZ, nullptr, &text[0], &size) !=
        ERROR_SUCCESS) {
        return {};
    }
    text.resize(size / sizeof(wchar_t));
    return text;
}

}  // namespace flowfixtures
