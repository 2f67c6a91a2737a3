#pragma once

#include <string>
#include <vector>

// Arguments after the program name joined by single spaces. No quotes are put back, so an
// argument that held a space reads like two.
std::wstring JoinArguments(const std::vector<std::wstring>& arguments);

// Both are built afresh from GetCommandLineW on every call (Windows only).
std::wstring GetFirstArgument();
std::wstring GetAllArguments();

// The program's switches, found as case-sensitive substrings anywhere in the joined arguments.
constexpr wchar_t kSwitchDownloadOnly[] = L"/DownloadOnly";
constexpr wchar_t kSwitchSetupOnly[] = L"/SetupOnly";
bool HasSwitch(const std::wstring& allArguments, const wchar_t* name);
