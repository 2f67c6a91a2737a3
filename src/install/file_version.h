#pragma once

#include <cstddef>

constexpr std::size_t kVersionFieldChars = 260;

// Version strings of an executable, each named after the version-resource key that fills it. A
// key that is missing, or whose text does not fit with its terminator, leaves its field empty.
struct FileVersionStrings {
    wchar_t szCompanyName[kVersionFieldChars];
    wchar_t szFileDescription[kVersionFieldChars];
    wchar_t szFileVersion[kVersionFieldChars];
    wchar_t szLegalCopyright[kVersionFieldChars];
    wchar_t szProductName[kVersionFieldChars];
};

// Fills *pStrings from the string table of the first language listed in the file's version
// resource. 1 read; 0 for a null argument, a file without a version resource or without a
// translation list. The output is cleared first in every case where it is given.
int ReadFileVersionStrings(const wchar_t* szPath, FileVersionStrings* pStrings);
