#include "app/command_line.h"

#include <windows.h>

#include <shellapi.h>

namespace {

// Entries 1..n-1 of the split command line; empty when splitting fails.
std::vector<std::wstring> ArgumentsAfterProgram() {
    std::vector<std::wstring> arguments;
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
    if (argv == nullptr) return arguments;
    for (int i = 1; i < count; ++i) arguments.emplace_back(argv[i]);
    LocalFree(argv);
    return arguments;
}

}  // namespace

std::wstring GetFirstArgument() {
    std::vector<std::wstring> arguments = ArgumentsAfterProgram();
    return arguments.empty() ? std::wstring() : arguments.front();
}

std::wstring GetAllArguments() { return JoinArguments(ArgumentsAfterProgram()); }
