#include "download/log_line_encoding.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string Encode(const std::wstring& message, size_t outBytes = kLogLineBytes) {
    std::vector<char> out(outBytes);
    return std::string(out.data(),
                       EncodeLogLine(message.data(), message.size(), out.data(), out.size()));
}

// As text mode in the C locale would store it: line feeds become CR LF, a character the 8-bit
// text cannot hold is one question mark (also one outside the basic plane, and a lone surrogate).
TEST(EncodeLogLine, StoresTheLineAsTextModeWouldInTheCLocale) {
    const struct {
        std::wstring message;
        std::string bytes;
    } kCases[] = {
        {L"", "\r\n"},
        {L"SafeDownloadFile: step 1", "SafeDownloadFile: step 1\r\n"},
        {L"caf\u00e9 \u00ff", "caf\xe9 \xff\r\n"},
        {L"a\u0100b", "a?b\r\n"},
        {L"URL h/\u0416\u0416 x", "URL h/?? x\r\n"},
        {L"one\ntwo", "one\r\ntwo\r\n"},
        {L"cr\rstays", "cr\rstays\r\n"},
        {std::wstring(L"nul\0in", 6), std::string("nul\0in\r\n", 8)},
        {L"smile \U0001F600!", "smile ?!\r\n"},
        {std::wstring(L"x") + static_cast<wchar_t>(0xD800) + L"y", "x?y\r\n"},
    };
    for (const auto& c : kCases) EXPECT_EQ(Encode(c.message), c.bytes) << c.bytes;
}

// The longest kept message fits even when every character grows; a buffer too small for the line
// and its end gives nothing.
TEST(EncodeLogLine, BufferLimits) {
    const std::string bytes = Encode(std::wstring(kLogMessageChars - 1, L'\n'));
    EXPECT_EQ(bytes.size(), kLogLineBytes);
    EXPECT_EQ(bytes.substr(0, 4), "\r\n\r\n");
    EXPECT_EQ(Encode(L"abc", 2), "");
    EXPECT_EQ(Encode(L"abc", 4), "");
    EXPECT_EQ(Encode(L"a\nb", 5), "");
    EXPECT_EQ(Encode(L"abc", 5), "abc\r\n");
}

}  // namespace
