#pragma once

// Where a broken download of the package stands, and the rules for asking the server for the rest
// of it: which validator ties the part on disk to the package it came from, the headers of the
// request for the rest, and whether an answer continues that part. Portable, so that the rules
// run on the host under the sanitizers; both download paths follow them.
#include <cstdint>
#include <string>

// The longest validator kept. A server's strong ETag or Last-Modified date is far shorter; a
// longer one is not kept, and its package cannot be resumed.
constexpr std::size_t kMaxValidatorChars = 127;

struct ResumePoint {
    // Bytes of the package in the file, counted from its start.
    std::uint32_t nBytes = 0;
    // The whole package's size as its first answer gave it; 0 while unknown.
    std::uint32_t nTotal = 0;
    // The If-Range value that proves the package unchanged: the first answer's strong ETag, else
    // its Last-Modified date; empty when it had neither.
    char szValidator[kMaxValidatorChars + 1] = {};

    // Whether a request for the rest can be made: part of the package is on disk, not all of it,
    // and there is a validator to ask with.
    bool CanResume() const { return nBytes > 0 && nBytes < nTotal && szValidator[0] != '\0'; }
    // Nothing on disk counts any more.
    void Forget() { *this = ResumePoint(); }
    // A fresh start on the answer that gives the package whole: its size and its validator.
    void StartOver(std::uint32_t nPackageBytes, const char* szETag, const char* szLastModified);
};

// The validator of an answer, written into szValidator (kMaxValidatorChars + 1 bytes): its ETag
// when that is strong (quoted, not "W/"), else its Last-Modified date; either as printable ASCII
// that fits. Null arguments count as absent. False, with szValidator empty, when there is none.
bool ChooseValidator(const char* szETag, const char* szLastModified, char* szValidator);

// The headers that ask for the rest, one per line with CR LF between them, for WinHTTP:
// "Range: bytes=N-" and "If-Range: V". Empty when the point cannot be resumed.
std::string ResumeRequestHeaders(const ResumePoint& point);
// The If-Range line alone, for libcurl, which writes the Range line itself.
std::string IfRangeHeader(const ResumePoint& point);

// A Content-Range value "bytes FIRST-LAST/TOTAL" (spaces around the parts allowed, the unit in
// any case). False for anything else: "*", an unknown total, numbers past 64 bits, LAST < FIRST
// or TOTAL <= LAST.
bool ParseContentRange(const char* szValue, std::uint64_t* pnFirst, std::uint64_t* pnLast,
                       std::uint64_t* pnTotal);

// What to do with the answer to a request for the rest.
enum class ResumeAnswer {
    kAppend,   // 206 for exactly the rest of the same package: the body goes after the part
    kRestart,  // 200: the whole package (changed, or the server ignores ranges) from byte 0
    kRefuse,   // anything else: the part on disk does not fit with this answer
};

// Judges the answer (status, Content-Range value or null, Content-Length or -1 when absent,
// ETag and Last-Modified or null) to a request for the rest of point. A 206 appends only when its
// range starts at point.nBytes, runs to the end and names point.nTotal, its length, when given,
// is that of the rest, and it names the validator asked with (AnswerNamesValidator).
ResumeAnswer JudgeResumeAnswer(std::uint32_t dwStatus, const char* szContentRange,
                               std::int64_t nContentLength, const char* szETag,
                               const char* szLastModified, const ResumePoint& point);

// Whether an answer to a request for the rest says that it comes from the package of the point:
// it names the validator asked with, the ETag as its ETag or the date as its Last-Modified. The
// bytes of two versions must not be put together, and a 206 that does not say which version it
// is from cannot be told apart from one of another version. Null arguments count as absent.
bool AnswerNamesValidator(const ResumePoint& point, const char* szETag, const char* szLastModified);
