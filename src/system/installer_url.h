#pragma once

#include <string>

// The address of the full installer package on the update server: the 64-bit package when this
// 32-bit process runs under WOW64, the 32-bit package otherwise.
std::wstring GetInstallerURL();

// The second address of each download type; empty, so the workflow uses the package address
// for both.
std::wstring GetAlternateInstallerURL();
