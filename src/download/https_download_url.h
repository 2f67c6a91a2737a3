#pragma once

#include <cstddef>
#include <string>

// The texts the libcurl path hands to libcurl: the address in its ANSI buffer and the proxy.

// Bytes of the ANSI address buffer: at most 1023 characters and the terminator.
constexpr std::size_t kHttpsUrlBytes = 1024;

// Writes szText into szUrl (kHttpsUrlBytes) with the https scheme: an address that starts with
// "https://" is kept, "http://" becomes "https://", and any other text gets "https://" in front.
// The scheme test is case-sensitive. Gives 1, or 0 for a null argument or an address too long
// for the buffer.
int ForceHttpsScheme(const char* szText, char* szUrl);

// Percent-encodes every space of the address in szUrl (kHttpsUrlBytes) as "%20". Gives 1, or 0
// for a null buffer or when the text would not fit; it then stays escaped as far as it got.
int EscapeURLSpaces(char* szUrl);

// The one proxy that libcurl gets from an Internet Explorer proxy setting, empty for none. libcurl
// takes a single proxy, while the setting may list several, per protocol ("http=h:3128;
// https=h:3129") or not, separated by ';' or white space. When the setting holds "http=http://",
// the proxy is the text after it; otherwise the "https=" entry, else the "http=" one (either in
// any case), else the first entry (without a "name=" in front). The proxy ends at the first ';'
// or white space.
std::wstring ChooseCurlProxy(const wchar_t* szProxy);

// The host of an address as libcurl connects to it: after the scheme and any "user@", up to the
// port, path, query or fragment; an IPv6 literal without its brackets. Empty when there is none.
std::string UrlHost(const char* szUrl);

// Whether WinHTTP bypasses the proxy for szHost under an Internet Explorer bypass list: entries
// separated by ';', ',' or white space, each a host name in which '*' stands for any run of
// characters (compared regardless of ASCII case), or "<local>", which stands for every host name
// without a dot.
bool IsProxyBypassed(const wchar_t* szBypass, const std::string& host);

// libcurl's no-proxy list (CURLOPT_NOPROXY) for a transfer to szHost through the proxy of an
// Internet Explorer setting with the bypass list szBypass: the host itself when WinHTTP would
// bypass the proxy for it, else empty (the proxy is used). libcurl's own list matches a name's
// subdomains too and knows no "<local>", so the list is applied here rather than handed on.
std::string CurlNoProxyList(const wchar_t* szBypass, const std::string& host);
