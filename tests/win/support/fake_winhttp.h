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
    // What WinHttpQueryAuthSchemes reports for a challenge.
    bool authSchemesFail = false;
    DWORD supportedSchemes = 0;
    DWORD firstScheme = 0;
    DWORD authTarget = 0;
    std::optional<DWORD> contentLength;
    std::string body;
    DWORD chunkSize = 4096;                 // most bytes one availability query reports
    std::vector<DWORD> availabilityErrors;  // the first availability queries fail with these
    bool readFails = false;
};

// 200 with the body and a Content-Length that matches it.
FakeResponse OkResponse(const std::string& body);
// A bare status, such as 404 or 500.
FakeResponse StatusResponse(DWORD status);
// A 401 or 407 that offers the schemes for the target.
FakeResponse ChallengeResponse(DWORD status, DWORD supportedSchemes, DWORD authTarget);

enum class FakeHandleKind { Session, Connection, Request };

struct FakeOpen {
    std::wstring agent;
    DWORD accessType = 0;
    std::optional<std::wstring> proxy;
    std::optional<std::wstring> proxyBypass;
    DWORD flags = 0;
};

struct FakeOpenRequest {
    std::wstring verb;
    std::wstring object;
    std::wstring version;
    bool hasReferrer = false;
    std::vector<std::wstring> acceptTypes;
    DWORD flags = 0;
};

struct FakeCredentials {
    DWORD target = 0;
    DWORD scheme = 0;
    std::optional<std::wstring> userName;
    std::optional<std::wstring> password;
};

struct FakeSetOption {
    FakeHandleKind kind = FakeHandleKind::Session;
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

// The user's Internet Explorer proxy settings as the fake reports them.
struct FakeIEConfig {
    BOOL autoDetect = FALSE;
    std::optional<std::wstring> autoConfigUrl;
    std::optional<std::wstring> proxy;
    std::optional<std::wstring> proxyBypass;
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

    HINTERNET WinHttpOpen(LPCWSTR agent, DWORD accessType, LPCWSTR proxy, LPCWSTR proxyBypass,
                          DWORD flags) override;
    BOOL WinHttpGetIEProxyConfigForCurrentUser(
        WINHTTP_CURRENT_USER_IE_PROXY_CONFIG* config) override;
    BOOL WinHttpGetProxyForUrl(HINTERNET session, LPCWSTR url, WINHTTP_AUTOPROXY_OPTIONS* options,
                               WINHTTP_PROXY_INFO* proxyInfo) override;
    BOOL WinHttpSetOption(HINTERNET handle, DWORD option, LPVOID buffer, DWORD length) override;
    BOOL WinHttpCrackUrl(LPCWSTR url, DWORD urlLength, DWORD flags,
                         URL_COMPONENTS* components) override;
    BOOL WinHttpSetTimeouts(HINTERNET handle, int resolveTimeout, int connectTimeout,
                            int sendTimeout, int receiveTimeout) override;
    HINTERNET WinHttpConnect(HINTERNET session, LPCWSTR serverName, INTERNET_PORT serverPort,
                             DWORD reserved) override;
    HINTERNET WinHttpOpenRequest(HINTERNET connection, LPCWSTR verb, LPCWSTR objectName,
                                 LPCWSTR version, LPCWSTR referrer, LPCWSTR* acceptTypes,
                                 DWORD flags) override;
    BOOL WinHttpSetCredentials(HINTERNET request, DWORD authTargets, DWORD authScheme,
                               LPCWSTR userName, LPCWSTR password, LPVOID params) override;
    BOOL WinHttpSendRequest(HINTERNET request, LPCWSTR headers, DWORD headersLength,
                            LPVOID optional, DWORD optionalLength, DWORD totalLength,
                            DWORD_PTR context) override;
    BOOL WinHttpReceiveResponse(HINTERNET request, LPVOID reserved) override;
    BOOL WinHttpQueryHeaders(HINTERNET request, DWORD infoLevel, LPCWSTR name, LPVOID buffer,
                             LPDWORD bufferLength, LPDWORD index) override;
    BOOL WinHttpQueryAuthSchemes(HINTERNET request, LPDWORD supportedSchemes, LPDWORD firstScheme,
                                 LPDWORD authTarget) override;
    BOOL WinHttpQueryDataAvailable(HINTERNET request, LPDWORD bytesAvailable) override;
    BOOL WinHttpReadData(HINTERNET request, LPVOID buffer, DWORD bytesToRead,
                         LPDWORD bytesRead) override;
    BOOL WinHttpCloseHandle(HINTERNET handle) override;

  private:
    HINTERNET NewHandle(FakeHandleKind kind);
    bool IsLive(HINTERNET handle, FakeHandleKind kind) const;
    // The response of the latest send, or null before the first one (or after an overrun).
    FakeResponse* Current();

    std::map<HINTERNET, FakeHandleKind> live_;
    UINT_PTR nextHandle_ = 0x1000;
    size_t bodyPosition_ = 0;
    size_t availabilityFailures_ = 0;
    int reads_ = 0;
};

}  // namespace testsupport
