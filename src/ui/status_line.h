#pragma once

// The status line that the status-text thread writes every half second: a prefix naming the
// connection type, the text of the download stage, and one to three dots. Portable, so that
// every combination can be checked without Windows.
#include <cstdint>
#include <string>

// The dot count of the first line; each later line has one more, back to one after three.
constexpr int kFirstDotCount = 1;
int NextDotCount(int nDots);

// The line for connection type dwType and download status dwStatus, in the current language.
// Types without a prefix and statuses without a stage text contribute nothing.
std::wstring ComposeStatusLine(std::uint32_t dwType, std::uint32_t dwStatus, int nDots);
