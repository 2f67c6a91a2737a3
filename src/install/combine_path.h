#pragma once

#include <cstddef>
#include <string>

// Longest folder and longest file name that CombinePath accepts, in characters.
constexpr std::size_t kCombinePathMaxPart = 1022;

// Folder and name joined with exactly one backslash (none is added after a folder that already
// ends in one). A null or empty part, or one longer than kCombinePathMaxPart, gives the empty
// string.
std::wstring CombinePath(const wchar_t* szFolder, const wchar_t* szName);
