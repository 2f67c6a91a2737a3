#pragma once

// The installer's command line and its elevated parameters, composed without <windows.h> so that
// the quoting, the argument and the language word are checked on the host too.
#include <cstddef>
#include <cstdint>
#include <string>

// Both texts live in buffers of this many characters, terminator included.
constexpr std::size_t kLaunchBufferChars = 260;

// File name of the installer, in the download folder and next to the program.
constexpr wchar_t kInstallerFileName[] = L"SetupB.exe";

// "\"<installer>\" <first argument> <language word>" for CreateProcessW. The first argument goes
// on unquoted, so one that holds spaces reaches the installer as several. False, with the buffer
// left empty, when the text does not fit or the installer is unknown: a cut path is never started.
bool ComposeDirectCommandLine(const std::wstring& installer, const std::wstring& firstArgument,
                              std::int32_t nLanguage, wchar_t (&szProcessPath)[kLaunchBufferChars]);

// "<first argument> <language word>" for the elevated start, whose file is passed apart. False,
// with the buffer left empty, when it does not fit.
bool ComposeElevatedParameters(const std::wstring& firstArgument, std::int32_t nLanguage,
                               wchar_t (&szParameters)[kLaunchBufferChars]);

// The installer next to the program ("<folder>\<installer>"), or the empty string when that path
// does not fit in kLaunchBufferChars.
std::wstring InstallerNextToProgram(const std::wstring& programFolder);

// How the installer is started: directly with CreateProcessW, or elevated through the shell.
enum class InstallerStart { kDirect, kElevated };

// The language word that ends the installer's command line for a g_nLanguage value. The two
// starts differ only when no language is stored (0): the direct start then passes "x".
const wchar_t* InstallerLanguageWord(std::int32_t nLanguage, InstallerStart start);
