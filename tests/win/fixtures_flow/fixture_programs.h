#pragma once

// The recording stand-ins built beside the tests, and what they leave behind when started.
#include <windows.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace flowfixtures {

// A fixture program by target name; the tests run from <build>\tests, the fixtures lie in
// <build>\fixtures_flow.
inline std::wstring FixtureProgram(const wchar_t* name) {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring folder(self);
    folder.resize(folder.find_last_of(L'\\'));
    folder.resize(folder.find_last_of(L'\\'));
    return folder + L"\\fixtures_flow\\" + name + L".exe";
}

inline bool CopyFixture(const wchar_t* name, const std::wstring& target) {
    return CopyFileW(FixtureProgram(name).c_str(), target.c_str(), FALSE) != FALSE;
}

// How a stand-in was started.
struct StartRecord {
    std::wstring commandLine;
    std::wstring currentFolder;
};

// Waits up to ten seconds for the record of the program at path; false when none came.
inline bool WaitForStartRecord(const std::wstring& path, StartRecord* record) {
    const std::wstring file = path + L".cmdline";
    for (int i = 0; i < 200; ++i) {
        std::vector<unsigned char> bytes;
        if (testsupport::ReadBytes(file, &bytes)) {
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

}  // namespace flowfixtures
