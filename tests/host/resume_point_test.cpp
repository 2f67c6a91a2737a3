#include "download/resume_point.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// The longest tag that fits, and one character more.
const std::string kLongestTag = "\"" + std::string(kMaxValidatorChars - 2, 'a') + "\"";
const std::string kTooLongTag = "\"" + std::string(kMaxValidatorChars - 1, 'a') + "\"";

// A strong ETag first, else Last-Modified; weak tags, malformed tags and anything that is not
// printable ASCII or does not fit are no validator.
TEST(ChooseValidator, StrongETagElseLastModifiedElseNone) {
    const char* const kDate = "Tue, 14 May 2024 08:00:00 GMT";
    const struct {
        const char* etag;
        const char* lastModified;
        std::string expected;
    } kCases[] = {
        {"\"5f3a-c800000\"", kDate, "\"5f3a-c800000\""},
        {"\"\"", nullptr, "\"\""},
        {"W/\"5f3a\"", kDate, kDate},
        {"W/\"5f3a\"", nullptr, ""},
        {"5f3a", kDate, kDate},
        {"\"a\"b\"", kDate, kDate},
        {"\"", kDate, kDate},
        {nullptr, kDate, kDate},
        {"", "", ""},
        {nullptr, nullptr, ""},
        {"\"tab\there\"", nullptr, ""},
        {"\"caf\xc3\xa9\"", "Mon\x01", ""},
        {kLongestTag.c_str(), nullptr, kLongestTag},
        {kTooLongTag.c_str(), nullptr, ""},
    };
    for (const auto& c : kCases) {
        // Exactly the validator's size on the heap, so that the sanitizer sees any overrun.
        std::vector<char> validator(kMaxValidatorChars + 1, '#');
        EXPECT_EQ(ChooseValidator(c.etag, c.lastModified, validator.data()), !c.expected.empty())
            << (c.etag ? c.etag : "(null)");
        EXPECT_EQ(std::string(validator.data()), c.expected) << (c.etag ? c.etag : "(null)");
    }
}

ResumePoint Point(std::uint32_t bytes, std::uint32_t total, const char* validator = "\"v1\"") {
    ResumePoint point;
    point.StartOver(total, validator, nullptr);
    point.nBytes = bytes;
    return point;
}

// A request for the rest needs part of the package, not all of it, and a validator.
TEST(ResumePoint, AsksForTheRestOnlyWithAPartAndAValidator) {
    const struct {
        ResumePoint point;
        std::string headers;
    } kCases[] = {
        {Point(40, 100), "Range: bytes=40-\r\nIf-Range: \"v1\""},
        {Point(99, 100), "Range: bytes=99-\r\nIf-Range: \"v1\""},
        {Point(209715199, 209715200), "Range: bytes=209715199-\r\nIf-Range: \"v1\""},
        {Point(0, 100), ""},
        {Point(100, 100), ""},
        {Point(101, 100), ""},
        {Point(40, 0), ""},
        {Point(40, 100, "W/\"v1\""), ""},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.point.nBytes);
        EXPECT_EQ(c.point.CanResume(), !c.headers.empty());
        EXPECT_EQ(ResumeRequestHeaders(c.point), c.headers);
        EXPECT_EQ(IfRangeHeader(c.point),
                  c.headers.empty() ? "" : c.headers.substr(c.headers.find("If-Range")));
    }
    ResumePoint dated;
    dated.StartOver(100, nullptr, "Tue, 14 May 2024 08:00:00 GMT");
    dated.nBytes = 10;
    EXPECT_EQ(IfRangeHeader(dated), "If-Range: Tue, 14 May 2024 08:00:00 GMT");
    dated.Forget();
    EXPECT_EQ(dated.nTotal, 0u);
    EXPECT_FALSE(dated.CanResume());
}

TEST(ParseContentRange, TakesBytesFirstLastTotalAndNothingElse) {
    const struct {
        const char* value;
        bool ok;
        std::uint64_t first, last, total;
    } kCases[] = {
        {"bytes 40-99/100", true, 40, 99, 100},
        {"  BYTES   0 - 0 / 1 ", true, 0, 0, 1},
        {"bytes 209715199-209715199/209715200", true, 209715199, 209715199, 209715200},
        {"bytes 0-9999999999999999998/9999999999999999999", true, 0, 9999999999999999998u,
         9999999999999999999u},
        {"bytes 0-1/99999999999999999999", false, 0, 0, 0},
        {"bytes */100", false, 0, 0, 0},
        {"bytes 40-99/*", false, 0, 0, 0},
        {"bytes 40-99", false, 0, 0, 0},
        {"bytes 50-40/100", false, 0, 0, 0},
        {"bytes 40-100/100", false, 0, 0, 0},
        {"bytes=40-99/100", false, 0, 0, 0},
        {"bits 40-99/100", false, 0, 0, 0},
        {"bytes 40-99/100x", false, 0, 0, 0},
        {"bytes -99/100", false, 0, 0, 0},
        {"", false, 0, 0, 0},
        {nullptr, false, 0, 0, 0},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.value ? c.value : "(null)");
        std::uint64_t first = 7, last = 7, total = 7;
        EXPECT_EQ(ParseContentRange(c.value, &first, &last, &total), c.ok);
        if (c.ok) {
            EXPECT_EQ(first, c.first);
            EXPECT_EQ(last, c.last);
            EXPECT_EQ(total, c.total);
        }
    }
}

// Only the rest of the same package, whole, is appended; a 200 starts again; anything else,
// a 206 for another start, end, total or length among them, is refused.
TEST(JudgeResumeAnswer, AppendsOnlyTheRestOfTheSamePackage) {
    const ResumePoint point = Point(40, 100);
    const struct {
        std::uint32_t status;
        const char* range;
        std::int64_t length;
        ResumeAnswer answer;
    } kCases[] = {
        {206, "bytes 40-99/100", 60, ResumeAnswer::kAppend},
        {206, "bytes 40-99/100", -1, ResumeAnswer::kAppend},
        {200, nullptr, 100, ResumeAnswer::kRestart},
        {200, "bytes 40-99/100", 60, ResumeAnswer::kRestart},
        {206, "bytes 0-99/100", 100, ResumeAnswer::kRefuse},
        {206, "bytes 41-99/100", 59, ResumeAnswer::kRefuse},
        {206, "bytes 40-98/100", 59, ResumeAnswer::kRefuse},
        {206, "bytes 40-99/101", 60, ResumeAnswer::kRefuse},
        {206, "bytes 40-100/101", 61, ResumeAnswer::kRefuse},
        {206, "bytes 40-99/100", 59, ResumeAnswer::kRefuse},
        {206, nullptr, 60, ResumeAnswer::kRefuse},
        {206, "bytes */100", 0, ResumeAnswer::kRefuse},
        {416, "bytes */100", 0, ResumeAnswer::kRefuse},
        {404, nullptr, 10, ResumeAnswer::kRefuse},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::to_string(c.status) + " " + (c.range ? c.range : "(none)"));
        EXPECT_EQ(JudgeResumeAnswer(c.status, c.range, c.length, "\"v1\"", nullptr, point),
                  c.answer);
    }
    // Without a part to continue, no 206 fits.
    EXPECT_EQ(JudgeResumeAnswer(206, "bytes 0-99/100", 100, "\"v1\"", nullptr, Point(0, 100)),
              ResumeAnswer::kRefuse);
}

// The rest is put after the part only when the answer names the validator asked with: the same
// ETag for a point that keeps one, the same date for one that keeps a date; another version, a
// weak tag or no validator at all is refused.
TEST(AnswerNamesValidator, OnlyTheVersionAskedFor) {
    const char* const kDate = "Tue, 14 May 2024 08:00:00 GMT";
    const char* const kOtherDate = "Wed, 15 May 2024 08:00:00 GMT";
    const ResumePoint tagged = Point(40, 100);
    ResumePoint dated;
    dated.StartOver(100, nullptr, kDate);
    dated.nBytes = 40;
    const ResumePoint none = Point(40, 100, "");
    const struct {
        const ResumePoint& point;
        const char* etag;
        const char* date;
        bool named;
    } kCases[] = {
        {tagged, "\"v1\"", nullptr, true},    {tagged, "\"v1\"", kOtherDate, true},
        {tagged, "\"v2\"", kDate, false},     {tagged, "W/\"v1\"", nullptr, false},
        {tagged, nullptr, kDate, false},      {tagged, nullptr, nullptr, false},
        {dated, nullptr, kDate, true},        {dated, "\"v1\"", kDate, true},
        {dated, "\"v1\"", kOtherDate, false}, {dated, nullptr, nullptr, false},
        {none, "\"v1\"", kDate, false},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::string(c.point.szValidator) + " / " + (c.etag ? c.etag : "-") + " / " +
                     (c.date ? c.date : "-"));
        EXPECT_EQ(AnswerNamesValidator(c.point, c.etag, c.date), c.named);
    }
}

}  // namespace
