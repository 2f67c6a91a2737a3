#pragma once

#include <cstdint>

// How the installer is started: directly with CreateProcessW, or elevated through the shell.
enum class InstallerStart { kDirect, kElevated };

// The language word that ends the installer's command line for a g_nLanguage value. The two
// starts differ only when no language is stored (0): the direct start then passes "x".
const wchar_t* InstallerLanguageWord(std::int32_t nLanguage, InstallerStart start);
