#include "app/command_line.h"

#include "test_support.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Starts the probe program with the given text after its quoted path: what it saw, the first
// argument and all of them on two lines, or "(not run)".
std::wstring RunProbe(const std::wstring& tail) {
    testsupport::TempDir dir;
    const std::wstring out = dir.File(L"args.txt");
    SetEnvironmentVariableW(L"QERV_ARGS_PROBE_OUT", out.c_str());

    std::wstring commandLine = L"\"" + testsupport::Fixture(L"fixture_args_probe") + L"\"";
    if (!tail.empty()) commandLine += L" " + tail;
    std::vector<wchar_t> writable(commandLine.begin(), commandLine.end());
    writable.push_back(L'\0');

    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return L"(not run)";
    }
    const DWORD waited = WaitForSingleObject(process.hProcess, 60000);
    DWORD exitCode = 1;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);

    std::vector<unsigned char> bytes;
    if (waited != WAIT_OBJECT_0 || exitCode != 0 || !testsupport::ReadBytes(out, &bytes)) {
        return L"(not run)";
    }
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()),
                        bytes.size() / sizeof(wchar_t));
}

TEST(CommandLine, FirstAndAllArgumentsOfAStartedProgram) {
    const struct {
        const wchar_t* szTail;
        const wchar_t* szFirst;
        const wchar_t* szAll;
    } kCases[] = {
        {L"a \"b c\" d", L"a", L"a b c d"},
        {L"", L"", L""},
        {L"\"only one\"", L"only one", L"only one"},
        {L"/DownloadOnly   /SetupOnly", L"/DownloadOnly", L"/DownloadOnly /SetupOnly"},
        {L"\"\" x", L"", L" x"},
        {L"a\\\"b", L"a\"b", L"a\"b"},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(RunProbe(c.szTail), std::wstring(c.szFirst) + L'\n' + c.szAll)
            << "tail: " << c.szTail;
    }
}

}  // namespace
