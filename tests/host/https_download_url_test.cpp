#include "download/https_download_url.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <vector>

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
        if (c.nResult == 1) {
            EXPECT_EQ(std::string(buffer.data()), c.sExpected);
        }
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

TEST(ChooseCurlProxy, OneProxyFromTheSetting) {
    const struct {
        const wchar_t* szProxy;
        const wchar_t* szExpected;  // empty: no proxy
    } cases[] = {
        {nullptr, L""},
        {L"", L""},
        {L" ; ", L""},
        {L"proxy:8080", L"proxy:8080"},
        // The "http=http://" rule comes first, and its proxy ends at the next entry.
        {L"http=http://p:3128", L"p:3128"},
        {L"https=https://q:443;http=http://p:3128;ftp=x", L"p:3128"},
        {L"http=http://", L""},
        // Per-protocol lists: https first, then http, in any case.
        {L"http=h:3128;https=h:3129", L"h:3129"},
        {L"ftp=f:21;HTTP=h:3128", L"h:3128"},
        {L"HTTPS=s:443 http=h:80", L"s:443"},
        // Otherwise the first entry, without its name.
        {L"a:1;b:2", L"a:1"},
        {L"  a:1\tb:2", L"a:1"},
        {L"ftp=f:21;socks=s:1080", L"f:21"},
        {L"httpsx=z:1;ftp=f:21", L"z:1"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ChooseCurlProxy(c.szProxy), c.szExpected) << (c.szProxy ? c.szProxy : L"null");
    }
}

TEST(UrlHost, HostAsLibcurlConnectsToIt) {
    const char* const kCases[][2] = {
        {"https://127.0.0.1:8443/qerv/Setup.dat", "127.0.0.1"},
        {"https://update.example.com/qerv/x?y=1", "update.example.com"},
        {"https://intranet", "intranet"},
        {"https://user:pw@host:1/a@b", "host"},
        {"https://[::1]:8443/x", "::1"},
        {"https://[::1/x", ""},
        {"https://h#frag", "h"},
        {"host/path", "host"},
        {"https:///x", ""},
        {"", ""},
    };
    for (const auto& c : kCases) EXPECT_EQ(UrlHost(c[0]), c[1]) << c[0];
    EXPECT_EQ(UrlHost(nullptr), "");
}

// WinHTTP's rules: "<local>" for names without a dot, '*' for any run, case ignored; libcurl then
// gets the host alone, since its own list would match subdomains too.
TEST(IsProxyBypassed, AppliesTheBypassListAsWinHttpDoes) {
    const struct {
        const wchar_t* bypass;
        const char* host;
        bool bypassed;
    } kCases[] = {
        {L"<local>", "intranet", true},
        {L"<LOCAL>", "intranet", true},
        {L"<local>", "127.0.0.1", false},
        {L"<local>", "::1", true},
        {L"<local>x", "intranet", false},
        {L"*.example.com", "www.example.com", true},
        {L"*.example.com", "example.com", false},
        {L"*.EXAMPLE.com", "a.b.Example.COM", true},
        {L"example.com", "www.example.com", false},
        {L"example.com", "EXAMPLE.COM", true},
        {L"127.0.0.*", "127.0.0.1", true},
        {L"127.*.1", "127.0.0.1", true},
        {L"10.*", "127.0.0.1", false},
        {L"*", "anything.at.all", true},
        {L"*a*a*a*a*a*a*a*a*b", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", false},
        {L"*a*a*a*a*a*a*a*a*b", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaab", true},
        {L"foo;bar, <local>\t*.example.com", "www.example.com", true},
        {L"foo;bar, <local>\t*.example.com", "bar", true},
        {L"foo;bar, <local>\t*.example.com", "baz.org", false},
        {L";;  ,", "host", false},
        {L"", "host", false},
        {nullptr, "host", false},
        {L"*", "", false},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::string(c.host) + " / " +
                     (c.bypass ? std::string(c.bypass, c.bypass + std::wcslen(c.bypass)) : "null"));
        EXPECT_EQ(IsProxyBypassed(c.bypass, c.host), c.bypassed);
        EXPECT_EQ(CurlNoProxyList(c.bypass, c.host), c.bypassed ? c.host : "");
    }
}

}  // namespace
