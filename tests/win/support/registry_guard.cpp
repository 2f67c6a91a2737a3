#include "registry_guard.h"

#include "base/scoped_reg_key.h"

namespace testsupport {

namespace {

bool OpenMachineKey(const wchar_t* key, REGSAM access, ScopedRegKey* handle) {
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, access | KEY_WOW64_32KEY, handle->receive()) ==
           ERROR_SUCCESS;
}

}  // namespace

Bytes TextBytes(const std::wstring& text, bool bTerminated) {
    const BYTE* p = reinterpret_cast<const BYTE*>(text.c_str());
    return Bytes(p, p + (text.size() + (bTerminated ? 1 : 0)) * sizeof(wchar_t));
}

bool WriteMachineValue(const wchar_t* key, const wchar_t* name, DWORD type, const Bytes& data,
                       REGSAM view) {
    ScopedRegKey handle;
    return RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr, REG_OPTION_NON_VOLATILE,
                           KEY_SET_VALUE | view, nullptr, handle.receive(),
                           nullptr) == ERROR_SUCCESS &&
           RegSetValueExW(handle.get(), name, 0, type, data.data(),
                          static_cast<DWORD>(data.size())) == ERROR_SUCCESS;
}

bool WriteMachineString(const wchar_t* key, const wchar_t* name, const std::wstring& text) {
    return WriteMachineValue(key, name, REG_SZ, TextBytes(text));
}

bool WriteMachineDword(const wchar_t* key, const wchar_t* name, DWORD value) {
    const BYTE* p = reinterpret_cast<const BYTE*>(&value);
    return WriteMachineValue(key, name, REG_DWORD, Bytes(p, p + sizeof(value)));
}

void DeleteMachineValue(const wchar_t* key, const wchar_t* name) {
    ScopedRegKey handle;
    if (OpenMachineKey(key, KEY_SET_VALUE, &handle)) RegDeleteValueW(handle.get(), name);
}

bool MachineKeyExists(const wchar_t* key) {
    ScopedRegKey handle;
    return OpenMachineKey(key, KEY_READ, &handle);
}

std::wstring ReadMachineText(const wchar_t* key, const wchar_t* name) {
    ScopedRegKey handle;
    DWORD size = 0;
    const DWORD flags = RRF_RT_REG_SZ | RRF_RT_REG_MULTI_SZ;
    if (!OpenMachineKey(key, KEY_QUERY_VALUE, &handle) ||
        RegGetValueW(handle.get(), nullptr, name, flags, nullptr, nullptr, &size) !=
            ERROR_SUCCESS) {
        return {};
    }
    std::wstring text(size / sizeof(wchar_t), L'\0');
    if (RegGetValueW(handle.get(), nullptr, name, flags, nullptr, &text[0], &size) !=
        ERROR_SUCCESS) {
        return {};
    }
    text.resize(size / sizeof(wchar_t));
    return text;
}

std::vector<std::wstring> PendingRemovals() {
    // Pairs of a source and a target, each terminated; a removal has an empty target. Two more
    // terminators give even a cut list's last source an end and a target.
    const std::wstring text =
        ReadMachineText(kSessionManagerKey, kPendingValue) + std::wstring(2, L'\0');
    std::vector<std::wstring> sources;
    for (std::size_t at = 0; at < text.size() && text[at] != L'\0';) {
        const std::size_t sourceEnd = text.find(L'\0', at);
        const std::size_t skip = text.compare(at, 4, L"\\??\\") == 0 ? 4 : 0;
        sources.push_back(text.substr(at + skip, sourceEnd - at - skip));
        at = text.find(L'\0', sourceEnd + 1) + 1;
    }
    return sources;
}

RegistryValueGuard::RegistryValueGuard(const wchar_t* key, const wchar_t* name)
    : m_key(key), m_name(name), m_bKeyExisted(MachineKeyExists(key)) {
    ScopedRegKey handle;
    DWORD size = 0;
    if (!OpenMachineKey(key, KEY_QUERY_VALUE, &handle) ||
        RegQueryValueExW(handle.get(), name, nullptr, &m_dwType, nullptr, &size) != ERROR_SUCCESS) {
        return;
    }
    m_data.resize(size);
    m_bValueExisted = RegQueryValueExW(handle.get(), name, nullptr, &m_dwType, m_data.data(),
                                       &size) == ERROR_SUCCESS;
    m_data.resize(size);
}

RegistryValueGuard::~RegistryValueGuard() {
    if (m_bValueExisted) {
        WriteMachineValue(m_key.c_str(), m_name.c_str(), m_dwType, m_data);
        return;
    }
    DeleteMachineValue(m_key.c_str(), m_name.c_str());
    if (!m_bKeyExisted) RegDeleteKeyExW(HKEY_LOCAL_MACHINE, m_key.c_str(), KEY_WOW64_32KEY, 0);
}

}  // namespace testsupport
