// Records how it was started, for the tests of the installer launch and the uninstaller start:
// "<own path>.cmdline" holds, in UTF-16, the command line, a line feed and the current folder.
#include <windows.h>

#include <string>

namespace {

constexpr DWORD kPathChars = 1024;

bool WriteWhole(const std::wstring& path, const std::wstring& text) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const DWORD bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    DWORD written = 0;
    const BOOL ok = WriteFile(file, text.data(), bytes, &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    wchar_t self[kPathChars] = {};
    const DWORD selfLength = GetModuleFileNameW(nullptr, self, kPathChars);
    wchar_t folder[kPathChars] = {};
    const DWORD folderLength = GetCurrentDirectoryW(kPathChars, folder);
    if (selfLength == 0 || selfLength >= kPathChars || folderLength >= kPathChars) return 1;

    // Written under a temporary name and then renamed, so a test never reads half a record.
    const std::wstring record = std::wstring(self) + L".cmdline";
    const std::wstring partial = record + L".part";
    const std::wstring text = std::wstring(GetCommandLineW()) + L"\n" + folder;
    if (!WriteWhole(partial, text)) return 1;
    return MoveFileExW(partial.c_str(), record.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}
