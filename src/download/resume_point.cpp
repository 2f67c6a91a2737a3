#include "download/resume_point.h"

#include <cstring>

namespace {

bool IsPrintableAscii(char c) { return c >= 0x20 && c < 0x7F; }

// The text whole, when it is non-empty printable ASCII that fits a validator.
bool CopyValidator(const char* szText, char* szValidator) {
    const std::size_t nLength = std::strlen(szText);
    if (nLength == 0 || nLength > kMaxValidatorChars) return false;
    for (std::size_t i = 0; i < nLength; ++i) {
        if (!IsPrintableAscii(szText[i])) return false;
    }
    std::memcpy(szValidator, szText, nLength + 1);
    return true;
}

// A strong entity tag is one quoted string; a weak one ("W/" in front) cannot be sent in
// If-Range, since byte ranges of two weakly equal bodies need not fit together.
bool IsStrongETag(const char* szETag) {
    const std::size_t nLength = std::strlen(szETag);
    if (nLength < 2 || szETag[0] != '"' || szETag[nLength - 1] != '"') return false;
    return std::strchr(szETag + 1, '"') == szETag + nLength - 1;
}

void SkipSpaces(const char** p) {
    while (**p == ' ' || **p == '\t') ++*p;
}

// A decimal number of at most 19 digits (so that it fits 64 bits), and the text after it.
bool ReadNumber(const char** p, std::uint64_t* pnValue) {
    SkipSpaces(p);
    std::uint64_t value = 0;
    int nDigits = 0;
    for (; **p >= '0' && **p <= '9'; ++*p) {
        if (++nDigits > 19) return false;
        value = value * 10 + static_cast<std::uint64_t>(**p - '0');
    }
    *pnValue = value;
    SkipSpaces(p);
    return nDigits > 0;
}

}  // namespace

void ResumePoint::StartOver(std::uint32_t nPackageBytes, const char* szETag,
                            const char* szLastModified) {
    Forget();
    nTotal = nPackageBytes;
    ChooseValidator(szETag, szLastModified, szValidator);
}

bool ChooseValidator(const char* szETag, const char* szLastModified, char* szValidator) {
    szValidator[0] = '\0';
    if (szETag != nullptr && IsStrongETag(szETag) && CopyValidator(szETag, szValidator)) {
        return true;
    }
    return szLastModified != nullptr && CopyValidator(szLastModified, szValidator);
}

std::string ResumeRequestHeaders(const ResumePoint& point) {
    if (!point.CanResume()) return std::string();
    return "Range: bytes=" + std::to_string(point.nBytes) + "-\r\n" + IfRangeHeader(point);
}

std::string IfRangeHeader(const ResumePoint& point) {
    if (!point.CanResume()) return std::string();
    return std::string("If-Range: ") + point.szValidator;
}

bool ParseContentRange(const char* szValue, std::uint64_t* pnFirst, std::uint64_t* pnLast,
                       std::uint64_t* pnTotal) {
    if (szValue == nullptr) return false;
    const char* p = szValue;
    SkipSpaces(&p);
    static const char kUnit[] = "bytes";
    for (const char* u = kUnit; *u != '\0'; ++u, ++p) {
        if ((*p | 0x20) != *u) return false;
    }
    if (*p != ' ' && *p != '\t') return false;
    std::uint64_t nFirst = 0, nLast = 0, nTotal = 0;
    if (!ReadNumber(&p, &nFirst) || *p++ != '-') return false;
    if (!ReadNumber(&p, &nLast) || *p++ != '/') return false;
    if (!ReadNumber(&p, &nTotal) || *p != '\0') return false;
    if (nLast < nFirst || nTotal <= nLast) return false;
    *pnFirst = nFirst;
    *pnLast = nLast;
    *pnTotal = nTotal;
    return true;
}

ResumeAnswer JudgeResumeAnswer(std::uint32_t dwStatus, const char* szContentRange,
                               std::int64_t nContentLength, const char* szETag,
                               const char* szLastModified, const ResumePoint& point) {
    constexpr std::uint32_t kHttpOk = 200;
    constexpr std::uint32_t kHttpPartialContent = 206;
    if (dwStatus == kHttpOk) return ResumeAnswer::kRestart;
    if (dwStatus != kHttpPartialContent || !point.CanResume()) return ResumeAnswer::kRefuse;
    std::uint64_t nFirst = 0, nLast = 0, nTotal = 0;
    if (!ParseContentRange(szContentRange, &nFirst, &nLast, &nTotal)) return ResumeAnswer::kRefuse;
    const bool bRest = nFirst == point.nBytes && nTotal == point.nTotal && nLast + 1 == nTotal;
    const bool bLength =
        nContentLength < 0 || static_cast<std::uint64_t>(nContentLength) == nTotal - nFirst;
    // The rest must also come from the same version of the package as the part.
    return bRest && bLength && AnswerNamesValidator(point, szETag, szLastModified)
               ? ResumeAnswer::kAppend
               : ResumeAnswer::kRefuse;
}

bool AnswerNamesValidator(const ResumePoint& point, const char* szETag,
                          const char* szLastModified) {
    // The point keeps a strong ETag (quoted) or else a date, never both.
    const char* szNamed = point.szValidator[0] == '"' ? szETag : szLastModified;
    return point.szValidator[0] != '\0' && szNamed != nullptr &&
           std::strcmp(szNamed, point.szValidator) == 0;
}
