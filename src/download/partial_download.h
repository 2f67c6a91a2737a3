#pragma once

// The part of the package that a failed try left on disk, kept between the tries of a run so
// that a later try asks only for the rest. Each attempt downloads into a file of its own; a
// thread hands its file over only once it has closed it and writes it no more, so that the file
// a later try appends to can never be written by a thread that was given up on. One part is kept
// at a time, the largest, in the download folder beside the attempts' files.
#include <windows.h>

#include <cstdint>

#include "download/resume_point.h"

// Takes over szPath, the closed file of a try for szUrl that holds point.nBytes of the package,
// when it can be resumed and holds more than the part kept so far; otherwise removes it.
void OfferPartialDownload(const wchar_t* szPath, const wchar_t* szUrl, const ResumePoint& point);

// When the part kept for szUrl is larger than *pPoint says szOwnPath holds, moves it onto
// szOwnPath (replacing that file), gives its point and keeps it no longer. True when it did.
bool AdoptPartialDownload(const wchar_t* szUrl, const wchar_t* szOwnPath, ResumePoint* pPoint);

// Accepts offers from now on (each attempt's launcher says so when it starts).
void OpenPartialDownloads();
// Removes the part kept and every later offer's file until the store is opened again: the
// package has arrived whole, or the run has given up and cleans up its folder.
void DiscardPartialDownloads();

// The size of the file at szPath, or -1 when it cannot be read.
std::int64_t PartSize(const wchar_t* szPath);
