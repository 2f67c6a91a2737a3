#include "test_support.h"

#include <windows.h>

#include <shellapi.h>

namespace testsupport {

TempDir::TempDir() {
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    wchar_t name[64];
    static LONG counter = 0;
    _snwprintf(name, 63, L"qerv-test-%lu-%ld", GetCurrentProcessId(),
               InterlockedIncrement(&counter));
    name[63] = L'\0';
    m_path = std::wstring(base) + name;
    CreateDirectoryW(m_path.c_str(), nullptr);
}

TempDir::~TempDir() {
    // SHFileOperation wants a double-terminated list.
    std::wstring from = m_path + L'\0';
    SHFILEOPSTRUCTW op = {};
    op.wFunc = FO_DELETE;
    op.pFrom = from.c_str();
    op.fFlags = FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_SILENT;
    SHFileOperationW(&op);
}

bool WriteBytes(const std::wstring& path, const std::vector<unsigned char>& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = bytes.empty() ||
              WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
}

bool ReadBytes(const std::wstring& path, std::vector<unsigned char>* bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD size = GetFileSize(file, nullptr);
    bytes->assign(size, 0);
    DWORD read = 0;
    BOOL ok = size == 0 || ReadFile(file, bytes->data(), size, &read, nullptr);
    CloseHandle(file);
    return ok && read == size;
}

std::string FileText(const std::wstring& path) {
    std::vector<unsigned char> bytes;
    if (!ReadBytes(path, &bytes)) return "(missing)";
    return std::string(bytes.begin(), bytes.end());
}

bool FileExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring Env(const wchar_t* name) {
    wchar_t value[2048];
    DWORD n = GetEnvironmentVariableW(name, value, 2048);
    if (n == 0 || n >= 2048) return std::wstring();
    return std::wstring(value, n);
}

std::wstring BesideTestProgram(const std::wstring& name) {
    wchar_t self[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return std::wstring();
    std::wstring folder(self, n);
    return folder.substr(0, folder.find_last_of(L'\\') + 1) + name;
}

std::wstring Fixture(const wchar_t* name) {
    // The test programs lie in <build>/tests.
    std::wstring folder = BesideTestProgram(L"");
    folder.resize(folder.find_last_of(L'\\', folder.size() - 2) + 1);
    return folder + L"fixtures\\" + name + L".exe";
}

TemporaryFolderOverride::TemporaryFolderOverride(const std::wstring& folder) : m_old(Env(L"TMP")) {
    SetEnvironmentVariableW(L"TMP", folder.c_str());
}

TemporaryFolderOverride::~TemporaryFolderOverride() {
    SetEnvironmentVariableW(L"TMP", m_old.empty() ? nullptr : m_old.c_str());
}

bool CopyFixture(const wchar_t* name, const std::wstring& target) {
    return CopyFileW(Fixture(name).c_str(), target.c_str(), FALSE) != FALSE;
}

bool WaitForStartRecord(const std::wstring& path, StartRecord* record, unsigned timeoutMs) {
    const std::wstring file = path + L".cmdline";
    for (unsigned waited = 0; waited < timeoutMs; waited += 50) {
        std::vector<unsigned char> bytes;
        if (ReadBytes(file, &bytes)) {
            const std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()),
                                    bytes.size() / sizeof(wchar_t));
            const std::size_t lineEnd = text.find(L'\n');
            record->commandLine = text.substr(0, lineEnd);
            record->currentFolder = lineEnd == std::wstring::npos ? L"" : text.substr(lineEnd + 1);
            return true;
        }
        Sleep(50);
    }
    return false;
}

}  // namespace testsupport
