#pragma once

#include <cstddef>

// Work buffers of the download (normalised URL, host name), in wide characters.
constexpr std::size_t kUrlBufferChars = 1024;
// At most this much of a caller's URL is kept, so "http://" and the URL always fit.
constexpr std::size_t kUrlMaxCopiedChars = 1000;

// Writes szUrl into szDest (kUrlBufferChars wide characters), with "http://" put in front
// unless it already begins with "http://" or "https://" in any letter case. At most
// kUrlMaxCopiedChars characters of szUrl are copied; a null szUrl counts as empty.
void NormalizeUrl(wchar_t* szDest, const wchar_t* szUrl);
