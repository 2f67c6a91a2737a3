#pragma once

// The transfer of the libcurl path into its file: the file opened afresh or after the part of
// the package already in it, the request for the rest, and the checks of the answer that libcurl
// leaves to its caller.
// curl.h brings winsock2.h, which must come before windows.h.
#include <curl/curl.h>

#include <windows.h>

#include <atomic>

#include "download/https_download.h"
#include "download/resume_point.h"

// Runs the transfer that pCurl is prepared for (every option but those of the file, the answer's
// headers and the resumed request) into szSaveFile. When *pResume holds part of the package, only
// the rest is asked for, with If-Range: a 206 for exactly that rest is appended, a 200 is taken as
// the whole package from byte 0, anything else fails and forgets the part. The point
// is kept up to date with what the file holds and the answer's validator. pProgress's base and
// *pnPercent are set where the transfer starts. True when the file holds the whole package.
bool RunCurlTransfer(CURL* pCurl, const wchar_t* szSaveFile, ResumePoint* pResume,
                     CurlProgressTarget* pProgress, std::atomic<LONG>* pnPercent);
