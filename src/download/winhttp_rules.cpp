#include "download/winhttp_rules.h"

#include "base/ascii_text.h"

#include <initializer_list>

std::uint32_t ChooseAuthScheme(std::uint32_t dwSupportedSchemes) {
    for (std::uint32_t scheme :
         {kAuthSchemeNegotiate, kAuthSchemeNtlm, kAuthSchemePassport, kAuthSchemeDigest}) {
        if ((dwSupportedSchemes & scheme) != 0) return scheme;
    }
    return kAuthSchemeBasic;
}

void NormalizeUrl(wchar_t* szDest, const wchar_t* szUrl) {
    if (szUrl == nullptr) szUrl = L"";
    std::size_t n = 0;
    if (!StartsWithAsciiNoCase(szUrl, L"http://") && !StartsWithAsciiNoCase(szUrl, L"https://")) {
        for (const wchar_t* p = L"http://"; *p != L'\0'; ++p) szDest[n++] = *p;
    }
    for (std::size_t i = 0; i < kUrlMaxCopiedChars && szUrl[i] != L'\0'; ++i)
        szDest[n++] = szUrl[i];
    szDest[n] = L'\0';
}

namespace {
constexpr std::int32_t kExactLimit = 100000;
}

bool ProgressPosition(std::int32_t nTotal, std::int32_t nReceived, std::int32_t* pnPosition) {
    if (nTotal <= 0) return false;
    std::int32_t percent = 0;
    if (nTotal > kExactLimit || nReceived > kExactLimit) {
        const std::int32_t divisor = nTotal / 100;
        // A tiny total with a huge received count is far past the end of the bar.
        percent = divisor == 0 ? 100 : nReceived / divisor;
    } else {
        percent = nReceived * 100 / nTotal;
    }
    if (percent > 100) percent = 100;
    if (percent < 0) percent = 0;
    *pnPosition = percent;
    return true;
}

std::int32_t StoredPercent(std::uint32_t dwReceived, std::uint32_t dwTotal) {
    const double percent = dwReceived * 100.0 / dwTotal;
    // Received never exceeds the total; the cap only keeps the conversion in range.
    return percent >= 100.0 ? 100 : static_cast<std::int32_t>(percent);
}
