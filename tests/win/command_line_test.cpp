#include "app/command_line.h"

#include "test_support.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct ProbeResult {
    bool bRan = false;
    std::wstring first;
    std::wstring all;
};

// Starts the probe program with the given text after its quoted path and returns what it saw.
ProbeResult RunProbe(const std::wstring& tail) {
    ProbeResult result;
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
        return result;
    }
    const DWORD waited = WaitForSingleObject(process.hProcess, 60000);
    DWORD exitCode = 1;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);

    std::vector<unsigned char> bytes;
    if (waited != WAIT_OBJECT_0 || exitCode != 0 || !testsupport::ReadBytes(out, &bytes)) {
        return result;
    }
    const std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()),
                            bytes.size() / sizeof(wchar_t));
    const std::size_t split = text.find(L'\n');
    if (split == std::wstring::npos) return result;
    result.bRan = true;
    result.first = text.substr(0, split);
    result.all = text.substr(split + 1);
    return result;
}

TEST(CommandLine, FirstAndAllArgumentsOfAStartedProgram) {
    struct Case {
        const wchar_t* szTail;
        const wchar_t* szFirst;
        const wchar_t* szAll;
    };
    const Case kCases[] = {
        {L"a \"b c\" d", L"a", L"a b c d"},
        {L"", L"", L""},
        {L"\"only one\"", L"only one", L"only one"},
        {L"/DownloadOnly   /SetupOnly", L"/DownloadOnly", L"/DownloadOnly /SetupOnly"},
        {L"\"\" x", L"", L" x"},
        {L"a\\\"b", L"a\"b", L"a\"b"},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(testing::Message() << "tail: " << c.szTail);
        const ProbeResult result = RunProbe(c.szTail);
        ASSERT_TRUE(result.bRan);
        EXPECT_EQ(result.first, c.szFirst);
        EXPECT_EQ(result.all, c.szAll);
    }
}

}  // namespace
