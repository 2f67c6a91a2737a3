#pragma once

// Minimal transfers over the same APIs as the two download paths, as yardsticks: what libcurl
// and WinHTTP cost on their own, without the program's options, progress and logging.
#include <string>

// A bare libcurl easy transfer of url into path, written with fwrite. True on success.
bool BareCurlTransfer(const std::string& url, const std::wstring& path);

// A bare synchronous WinHTTP GET of url into path: QueryDataAvailable, ReadData and WriteFile
// chunk by chunk, through one reused buffer. Certificate errors are ignored, as on the WinHTTP
// path. True when the server answered 200 and every byte was written.
bool BareWinHttpTransfer(const std::wstring& url, const std::wstring& path);
