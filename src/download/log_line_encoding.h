#pragma once

#include <cstddef>

// A trace-log message is formatted into this many wide characters; a message of this length or
// more is dropped.
constexpr std::size_t kLogMessageChars = 8192;
// Enough bytes for any message that is kept: each character may take two bytes (a line feed
// becomes CR LF), and the line end takes two.
constexpr std::size_t kLogLineBytes = 2 * kLogMessageChars;

// Encodes nLength characters of szMessage and a line end into pOut the way a text-mode stream in
// the "C" locale stores them: characters up to 255 become one byte each, a line feed becomes
// CR LF. A character the locale cannot convert (above 255; a surrogate pair counts as one)
// becomes '?', so the line is kept whole. Returns the byte count, or 0 when nOutBytes is too
// small.
std::size_t EncodeLogLine(const wchar_t* szMessage, std::size_t nLength, char* pOut,
                          std::size_t nOutBytes);
