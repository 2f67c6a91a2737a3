#pragma once

#include <string>

// UTF-8 of a wide text (UTF-16 on Windows, UTF-32 elsewhere). A code unit that is no character
// (an unpaired surrogate, a value past U+10FFFF) becomes U+FFFD.
std::string WideToUtf8(const wchar_t* text);

// The wide text of UTF-8 bytes; false, with *wide unspecified, when they are not valid UTF-8.
bool Utf8ToWide(const char* text, std::wstring* wide);
