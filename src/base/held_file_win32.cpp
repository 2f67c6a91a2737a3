#include "base/held_file.h"

#include <winternl.h>

#include <vector>

namespace {

// Data access makes a handle count in the sharing checks: without FILE_SHARE_DELETE, a folder
// or file opened so can be neither renamed nor deleted while the handle is open.
constexpr DWORD kFolderAccess =
    FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE;
constexpr DWORD kHeldSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;
// GetFinalPathNameByHandleW gives paths of up to 32767 characters.
constexpr DWORD kLongestPathChars = 32768;
constexpr wchar_t kLongPrefix[] = L"\\\\?\\";
constexpr wchar_t kLongUncPrefix[] = L"\\\\?\\UNC\\";

// The object manager's name for a Win32 path: "\??\C:\..." or "\??\UNC\server\share\...".
std::wstring NtPathOf(const std::wstring& path) {
    if (path.compare(0, 4, kLongPrefix) == 0) return L"\\??\\" + path.substr(4);
    if (path.compare(0, 2, L"\\\\") == 0) return L"\\??\\UNC\\" + path.substr(2);
    return L"\\??\\" + path;
}

bool IsPlainFile(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION info = {};
    return GetFileInformationByHandle(handle, &info) &&
           (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
}

}  // namespace

ScopedHandle CreateFolderHeld(const std::wstring& path, SECURITY_ATTRIBUTES* security) {
    // CreateDirectoryW and then CreateFileW would leave a moment in which the new folder could be
    // renamed away and another put in its place; NtCreateFile makes and opens it at once.
    std::wstring ntPath = NtPathOf(path);
    const std::size_t bytes = ntPath.size() * sizeof(wchar_t);
    if (bytes >= 0xFFFF) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return ScopedHandle();
    }
    UNICODE_STRING name = {};
    name.Length = static_cast<USHORT>(bytes);
    name.MaximumLength = static_cast<USHORT>(bytes);
    name.Buffer = &ntPath[0];
    OBJECT_ATTRIBUTES attributes = {};
    attributes.Length = sizeof(attributes);
    attributes.ObjectName = &name;
    attributes.Attributes = OBJ_CASE_INSENSITIVE;
    attributes.SecurityDescriptor = security != nullptr ? security->lpSecurityDescriptor : nullptr;
    IO_STATUS_BLOCK status = {};
    HANDLE folder = nullptr;
    const NTSTATUS result = NtCreateFile(
        &folder, kFolderAccess, &attributes, &status, nullptr, FILE_ATTRIBUTE_NORMAL, kHeldSharing,
        FILE_CREATE, FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT,
        nullptr, 0);
    if (!NT_SUCCESS(result)) {
        SetLastError(RtlNtStatusToDosError(result));
        return ScopedHandle();
    }
    return ScopedHandle(folder);
}

ScopedHandle OpenFolderHeld(const std::wstring& path) {
    return ScopedHandle(CreateFileW(path.c_str(), kFolderAccess, kHeldSharing, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

ScopedHandle OpenFileHeld(const std::wstring& path) {
    ScopedHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (file.valid() && !IsPlainFile(file.get())) {
        file.reset();
        SetLastError(ERROR_REPARSE_ATTRIBUTE_CONFLICT);
    }
    return file;
}

std::wstring FinalPathOf(HANDLE handle) {
    std::vector<wchar_t> path(kLongestPathChars, L'\0');
    const DWORD length = GetFinalPathNameByHandleW(handle, path.data(), kLongestPathChars,
                                                   FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length >= kLongestPathChars) return {};
    const std::wstring full(path.data(), length);
    // The short form where it fits: some APIs and programs take no "\\?\" path.
    if (full.compare(0, 8, kLongUncPrefix) == 0 && length - 6 < MAX_PATH) {
        return L"\\\\" + full.substr(8);
    }
    if (full.compare(0, 4, kLongPrefix) == 0 && length > 6 && full[5] == L':' && full[6] == L'\\' &&
        length - 4 < MAX_PATH) {
        return full.substr(4);
    }
    return full;
}

bool IsSameFile(HANDLE first, HANDLE second) {
    BY_HANDLE_FILE_INFORMATION a = {};
    BY_HANDLE_FILE_INFORMATION b = {};
    return GetFileInformationByHandle(first, &a) && GetFileInformationByHandle(second, &b) &&
           a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}
