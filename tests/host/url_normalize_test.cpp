// NormalizeUrl: which URLs get "http://" in front, and the 1000-character cut that keeps every
// result inside its 1024-character buffer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "download/url_normalize.h"

namespace {

// The exact buffer size, so that the sanitizers see any write past it.
std::wstring Normalize(const wchar_t* url) {
    std::vector<wchar_t> buffer(kUrlBufferChars, L'#');
    NormalizeUrl(buffer.data(), url);
    return std::wstring(buffer.data());
}

struct Case {
    const wchar_t* url;
    const wchar_t* expected;
};

class NormalizeUrlCases : public ::testing::TestWithParam<Case> {};

TEST_P(NormalizeUrlCases, PrefixesOnlyUrlsWithoutAnHttpScheme) {
    EXPECT_EQ(Normalize(GetParam().url), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Schemes, NormalizeUrlCases,
    ::testing::Values(Case{L"127.0.0.1/qerv/Setup.dat", L"http://127.0.0.1/qerv/Setup.dat"},
                      Case{L"http://h/a?b=c", L"http://h/a?b=c"},
                      Case{L"HTTP://h/a", L"HTTP://h/a"}, Case{L"https://h/a", L"https://h/a"},
                      Case{L"HtTpS://h/a", L"HtTpS://h/a"}, Case{L"ftp://h/a", L"http://ftp://h/a"},
                      Case{L"http:/h/a", L"http://http:/h/a"},
                      Case{L"httpx://h", L"http://httpx://h"}, Case{L"http", L"http://http"},
                      Case{L"", L"http://"}, Case{nullptr, L"http://"}));

TEST(NormalizeUrl, KeepsAtMostAThousandCharactersOfTheUrl) {
    const std::wstring bare(1500, L'a');
    EXPECT_EQ(Normalize(bare.c_str()), L"http://" + std::wstring(1000, L'a'));

    const std::wstring withScheme = L"https://" + std::wstring(1500, L'b');
    EXPECT_EQ(Normalize(withScheme.c_str()), withScheme.substr(0, 1000));

    const std::wstring exact(1000, L'c');
    EXPECT_EQ(Normalize(exact.c_str()), L"http://" + exact);
}

}  // namespace
