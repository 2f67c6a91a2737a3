// The texts that the libcurl path gives libcurl: https scheme, escaped spaces, proxy.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "download/https_download_url.h"

namespace {

// Exactly kHttpsUrlBytes on the heap, so that the sanitizer sees any overrun.
std::vector<char> UrlBuffer(const std::string& sText = std::string()) {
    std::vector<char> buffer(kHttpsUrlBytes, '\0');
    sText.copy(buffer.data(), sText.size());
    return buffer;
}

const std::size_t kMax = kHttpsUrlBytes - 1;

TEST(ForceHttpsScheme, SchemeRuleAndLimit) {
    const struct {
        std::string sText;
        int nResult;
        std::string sExpected;
    } cases[] = {
        {"https://h/a.exe", 1, "https://h/a.exe"},
        {"http://h/a.exe", 1, "https://h/a.exe"},
        {"h/a.exe", 1, "https://h/a.exe"},
        {"HTTP://h/a", 1, "https://HTTP://h/a"},
        {"ftp://h/a", 1, "https://ftp://h/a"},
        {std::string(kMax - 8, 'a'), 1, "https://" + std::string(kMax - 8, 'a')},
        {std::string(kMax - 7, 'a'), 0, ""},
        {"https://" + std::string(kMax - 8, 'a'), 1, "https://" + std::string(kMax - 8, 'a')},
        {"https://" + std::string(kMax - 7, 'a'), 0, ""},
        {"http://" + std::string(kMax - 7, 'a'), 0, ""},
    };
    for (const auto& c : cases) {
        std::vector<char> buffer = UrlBuffer();
        EXPECT_EQ(ForceHttpsScheme(c.sText.c_str(), buffer.data()), c.nResult) << c.sText;
        if (c.nResult == 1) EXPECT_EQ(std::string(buffer.data()), c.sExpected);
    }
    EXPECT_EQ(ForceHttpsScheme(nullptr, UrlBuffer().data()), 0);
    EXPECT_EQ(ForceHttpsScheme("http://h", nullptr), 0);
}

TEST(EscapeURLSpaces, EscapesSpacesWhileTheyFit) {
    const std::string sHead(kHttpsUrlBytes - 10, 'a');
    const struct {
        std::string sText;
        int nResult;
        std::string sExpected;
    } cases[] = {
        {"https://h/my file.exe", 1, "https://h/my%20file.exe"},
        {" a  b ", 1, "%20a%20%20b%20"},
        {"https://h/no%20spaces\t+", 1, "https://h/no%20spaces\t+"},
        {std::string(kMax - 3, 'a') + " ", 1, std::string(kMax - 3, 'a') + "%20"},
        {std::string(kMax - 2, 'a') + " ", 0, std::string(kMax - 2, 'a') + " "},
        // From the end: the last two spaces reach 1023 characters, the first no longer fits.
        {" " + sHead + " b c", 0, " " + sHead + "%20b%20c"},
    };
    for (const auto& c : cases) {
        std::vector<char> buffer = UrlBuffer(c.sText);
        EXPECT_EQ(EscapeURLSpaces(buffer.data()), c.nResult) << c.sText.size();
        EXPECT_EQ(std::string(buffer.data()), c.sExpected);
    }
    EXPECT_EQ(EscapeURLSpaces(nullptr), 0);
}

TEST(CurlProxyText, ProxyRule) {
    const struct {
        const wchar_t* szProxy;
        const wchar_t* szExpected;  // null: no proxy
    } cases[] = {
        {nullptr, nullptr},
        {L"", nullptr},
        {L"proxy:8080", L"proxy:8080"},
        {L"http=http://p:3128", L"p:3128"},
        {L"https=https://q:443;http=http://p:3128;ftp=x", L"p:3128;ftp=x"},
        {L"HTTP=HTTP://p:3128", L"HTTP=HTTP://p:3128"},
        {L"http=http://", L""},
    };
    for (const auto& c : cases) {
        const wchar_t* szText = CurlProxyText(c.szProxy);
        EXPECT_EQ(szText ? std::wstring(szText) : L"(none)",
                  c.szExpected ? c.szExpected : L"(none)");
    }
}

}  // namespace
