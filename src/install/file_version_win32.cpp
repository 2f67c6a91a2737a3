#include "install/file_version.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <memory>
#include <new>

namespace {

struct VersionKey {
    const wchar_t* szKey;
    wchar_t (FileVersionStrings::*field)[kVersionFieldChars];
};

constexpr VersionKey kVersionKeys[] = {
    {L"CompanyName", &FileVersionStrings::szCompanyName},
    {L"FileDescription", &FileVersionStrings::szFileDescription},
    {L"FileVersion", &FileVersionStrings::szFileVersion},
    {L"LegalCopyright", &FileVersionStrings::szLegalCopyright},
    {L"ProductName", &FileVersionStrings::szProductName},
};

constexpr int kSubBlockChars = 260;

// Copies the text of one string-table entry into its field when it fits with a terminator.
void CopyVersionText(const void* pText, UINT nReported, wchar_t (&field)[kVersionFieldChars]) {
    // Whether the reported length counts the terminator differs between systems; the text ends at
    // the first zero within it either way.
    const std::size_t nLength = wcsnlen(static_cast<const wchar_t*>(pText), nReported);
    if (nLength >= kVersionFieldChars) return;
    wmemcpy(field, static_cast<const wchar_t*>(pText), nLength);
    field[nLength] = L'\0';
}

}  // namespace

int ReadFileVersionStrings(const wchar_t* szPath, FileVersionStrings* pStrings) {
    if (pStrings == nullptr) return 0;
    *pStrings = FileVersionStrings{};
    if (szPath == nullptr) return 0;

    DWORD dwHandle = 0;
    const DWORD dwSize = GetFileVersionInfoSizeW(szPath, &dwHandle);
    if (dwSize == 0) return 0;
    std::unique_ptr<unsigned char[]> block(new (std::nothrow) unsigned char[dwSize]);
    if (!block || !GetFileVersionInfoW(szPath, 0, dwSize, block.get())) return 0;

    // Only a complete first entry (language word, code-page word) of the list is used.
    void* pTranslation = nullptr;
    UINT cbTranslation = 0;
    if (!VerQueryValueW(block.get(), L"\\VarFileInfo\\Translation", &pTranslation,
                        &cbTranslation) ||
        pTranslation == nullptr || cbTranslation < 2 * sizeof(WORD)) {
        return 0;
    }
    const WORD* pWords = static_cast<const WORD*>(pTranslation);
    const unsigned nLanguage = pWords[0];
    const unsigned nCodePage = pWords[1];

    for (const VersionKey& key : kVersionKeys) {
        // _snwprintf cuts an overlong name and reports it instead of calling the
        // invalid-parameter handler; a name that does not fit is refused.
        wchar_t szSubBlock[kSubBlockChars];
        const int nFormatted =
            _snwprintf(szSubBlock, kSubBlockChars - 1, L"\\StringFileInfo\\%04X%04X\\%s", nLanguage,
                       nCodePage, key.szKey);
        szSubBlock[kSubBlockChars - 1] = L'\0';
        if (nFormatted < 1) return 0;

        void* pText = nullptr;
        UINT nReported = 0;
        if (VerQueryValueW(block.get(), szSubBlock, &pText, &nReported) && pText != nullptr) {
            CopyVersionText(pText, nReported, pStrings->*key.field);
        }
    }
    return 1;
}
