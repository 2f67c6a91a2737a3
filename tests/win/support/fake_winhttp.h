#pragma once

// A scripted stand-in for WinHTTP: each send plays the next scripted response, and every call
// that matters to the download is recorded. URL splitting is the real WinHttpCrackUrl.
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "download/winhttp_api.h"

namespace testsupport {

// What the server (or proxy) does with one request.
struct FakeResponse {
    DWORD sendError = 0;     // non-zero: WinHttpSendRequest fails with this code
    DWORD receiveError = 0;  // non-zero: WinHttpReceiveResponse fails with this code
    bool statusQueryFails = false;
    DWORD status = 200;
    bool authSchemesFail = false;  // WinHttpQueryAuthSchemes of a challenge
    DWORD supportedSchemes = 0;
    DWORD firstScheme = 0;
    DWORD authTarget = 0;
    std::optional<DWORD> contentLength;
    std::string body;
    DWORD chunkSize = 4096;                 // most bytes one availability query reports
    std::vector<DWORD> availabilityErrors;  // the first availability queries fail with these
    bool readFails = false;
};

// 200 with the body and its Content-Length (or the one given).
FakeResponse OkResponse(const std::string& body, std::optional<DWORD> contentLength = {},
                        DWORD chunkSize = 4096);
FakeResponse StatusResponse(DWORD status);
FakeResponse ChallengeResponse(DWORD status, DWORD supportedSchemes, DWORD authTarget);

enum class FakeHandleKind { Session, Connection, Request };

struct FakeOpen {
    std::wstring agent;
    DWORD accessType = 0;
    std::optional<std::wstring> proxy, proxyBypass;
    DWORD flags = 0;
};

struct FakeOpenRequest {
    std::wstring verb, object, version;
    bool hasReferrer = false;
    std::vector<std::wstring> acceptTypes;
    DWORD flags = 0;
};

struct FakeCredentials {
    DWORD target = 0;
    DWORD scheme = 0;
    std::optional<std::wstring> userName, password;
    bool operator==(const FakeCredentials& o) const {
        return target == o.target && scheme == o.scheme && userName == o.userName &&
               password == o.password;
    }
};

struct FakeSetOption {
    DWORD option = 0;
    DWORD length = 0;
    DWORD value = 0;                    // WINHTTP_OPTION_SECURITY_FLAGS
    std::optional<std::wstring> proxy;  // WINHTTP_OPTION_PROXY
};

struct FakeProxyQuery {
    std::wstring url;
    DWORD flags = 0;
    DWORD autoDetectFlags = 0;
    std::optional<std::wstring> autoConfigUrl;
    BOOL autoLogon = FALSE;
};

// The user's Internet Explorer proxy settings.
struct FakeIEConfig {
    BOOL autoDetect = FALSE;
    std::optional<std::wstring> autoConfigUrl, proxy, proxyBypass;
};

class FakeWinHttp : public WinHttpApi {
  public:
    // Script.
    DWORD openError = 0;  // non-zero: WinHttpOpen fails with this code
    bool crackFails = false;
    bool connectFails = false;
    bool openRequestFails = false;
    std::optional<FakeIEConfig> ieConfig;  // empty: the settings cannot be read
    // One entry per WinHttpGetProxyForUrl call: the proxy found, or empty for a failure.
    std::vector<std::optional<std::wstring>> proxyDiscoveries;
    std::vector<FakeResponse> responses;        // one per WinHttpSendRequest
    std::function<void(int readIndex)> onRead;  // after each successful WinHttpReadData

    // Record.
    std::vector<FakeOpen> opens;
    int ieConfigReads = 0;
    std::vector<FakeProxyQuery> proxyQueries;
    std::vector<FakeSetOption> options;
    std::wstring connectedHost;
    INTERNET_PORT connectedPort = 0;
    std::vector<FakeOpenRequest> requests;
    std::vector<FakeCredentials> credentials;
    int sends = 0;
    std::vector<DWORD> readSizes;  // bytes asked for by each WinHttpReadData
    std::vector<FakeHandleKind> closed;
    bool scriptOverrun = false;  // more sends than scripted responses

    int OpenHandles() const { return static_cast<int>(live_.size()); }

    HINTERNET WinHttpOpen(LPCWSTR, DWORD, LPCWSTR, LPCWSTR, DWORD) override;
    BOOL WinHttpGetIEProxyConfigForCurrentUser(WINHTTP_CURRENT_USER_IE_PROXY_CONFIG*) override;
    BOOL WinHttpGetProxyForUrl(HINTERNET, LPCWSTR, WINHTTP_AUTOPROXY_OPTIONS*,
                               WINHTTP_PROXY_INFO*) override;
    BOOL WinHttpSetOption(HINTERNET, DWORD, LPVOID, DWORD) override;
    BOOL WinHttpCrackUrl(LPCWSTR, DWORD, DWORD, URL_COMPONENTS*) override;
    BOOL WinHttpSetTimeouts(HINTERNET, int, int, int, int) override;
    HINTERNET WinHttpConnect(HINTERNET, LPCWSTR, INTERNET_PORT, DWORD) override;
    HINTERNET WinHttpOpenRequest(HINTERNET, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR*,
                                 DWORD) override;
    BOOL WinHttpSetCredentials(HINTERNET, DWORD, DWORD, LPCWSTR, LPCWSTR, LPVOID) override;
    BOOL WinHttpSendRequest(HINTERNET, LPCWSTR, DWORD, LPVOID, DWORD, DWORD, DWORD_PTR) override;
    BOOL WinHttpReceiveResponse(HINTERNET, LPVOID) override;
    BOOL WinHttpQueryHeaders(HINTERNET, DWORD, LPCWSTR, LPVOID, LPDWORD, LPDWORD) override;
    BOOL WinHttpQueryAuthSchemes(HINTERNET, LPDWORD, LPDWORD, LPDWORD) override;
    BOOL WinHttpQueryDataAvailable(HINTERNET, LPDWORD) override;
    BOOL WinHttpReadData(HINTERNET, LPVOID, DWORD, LPDWORD) override;
    BOOL WinHttpCloseHandle(HINTERNET) override;

  private:
    HINTERNET NewHandle(FakeHandleKind kind);
    bool IsLive(HINTERNET handle, FakeHandleKind kind) const;
    // The response of the latest send on a live request, or null (error set).
    FakeResponse* Current(HINTERNET request);

    std::map<HINTERNET, FakeHandleKind> live_;
    UINT_PTR nextHandle_ = 0x1000;
    size_t bodyPosition_ = 0;
    size_t availabilityFailures_ = 0;
    int reads_ = 0;
};

}  // namespace testsupport
