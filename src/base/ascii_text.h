#pragma once

// Text tests on ASCII letters only: scheme and protocol names must not depend on the locale.

// Whether text begins with prefix, whose letters are given in lower case, regardless of the case
// of text's ASCII letters.
inline bool StartsWithAsciiNoCase(const wchar_t* text, const wchar_t* prefix) {
    for (; *prefix != L'\0'; ++text, ++prefix) {
        const wchar_t c =
            (*text >= L'A' && *text <= L'Z') ? static_cast<wchar_t>(*text + 32) : *text;
        if (c != *prefix) return false;
    }
    return true;
}
