// EncodeLogLine: the bytes a trace-log line takes in the file, whole even when the 8-bit text
// cannot hold a character.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "download/log_line_encoding.h"

namespace {

std::string Encode(const std::wstring& message, size_t outBytes = kLogLineBytes) {
    std::vector<char> out(outBytes);
    const size_t n = EncodeLogLine(message.data(), message.size(), out.data(), out.size());
    return std::string(out.data(), n);
}

struct Case {
    std::wstring message;
    std::string bytes;
};

class EncodeLogLineCases : public ::testing::TestWithParam<Case> {};

TEST_P(EncodeLogLineCases, StoresTheLineAsTextModeWouldInTheCLocale) {
    EXPECT_EQ(Encode(GetParam().message), GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, EncodeLogLineCases,
    ::testing::Values(
        Case{L"", "\r\n"}, Case{L"SafeDownloadFile: step 1", "SafeDownloadFile: step 1\r\n"},
        Case{L"caf\u00e9 \u00ff", "caf\xe9 \xff\r\n"}, Case{L"a\u0100b", "a?b\r\n"},
        Case{L"URL h/\u0416\u0416 x", "URL h/?? x\r\n"}, Case{L"one\ntwo", "one\r\ntwo\r\n"},
        Case{L"cr\rstays", "cr\rstays\r\n"},
        Case{std::wstring(L"nul\0in", 6), std::string("nul\0in\r\n", 8)},
        // One character outside the basic plane is one question mark, however it is stored.
        Case{L"smile \U0001F600!", "smile ?!\r\n"},
        // A lone surrogate is a character the locale cannot convert either.
        Case{std::wstring(L"x") + static_cast<wchar_t>(0xD800) + L"y", "x?y\r\n"}));

TEST(EncodeLogLine, LongestKeptMessageFitsEvenWhenEveryCharacterGrows) {
    const std::wstring feeds(kLogMessageChars - 1, L'\n');
    const std::string bytes = Encode(feeds);
    EXPECT_EQ(bytes.size(), kLogLineBytes);
    EXPECT_EQ(bytes.substr(0, 4), "\r\n\r\n");
}

TEST(EncodeLogLine, RefusesAnOutputBufferTooSmallForTheLineAndItsEnd) {
    EXPECT_EQ(Encode(L"abc", 2), "");
    EXPECT_EQ(Encode(L"abc", 4), "");
    EXPECT_EQ(Encode(L"a\nb", 5), "");
    EXPECT_EQ(Encode(L"abc", 5), "abc\r\n");
}

}  // namespace
