#include "download/winhttp_api.h"

namespace {

class RealWinHttp final : public WinHttpApi {
  public:
    HINTERNET WinHttpOpen(LPCWSTR agent, DWORD accessType, LPCWSTR proxy, LPCWSTR proxyBypass,
                          DWORD flags) override {
        return ::WinHttpOpen(agent, accessType, proxy, proxyBypass, flags);
    }
    BOOL WinHttpGetIEProxyConfigForCurrentUser(
        WINHTTP_CURRENT_USER_IE_PROXY_CONFIG* config) override {
        return ::WinHttpGetIEProxyConfigForCurrentUser(config);
    }
    BOOL WinHttpGetProxyForUrl(HINTERNET session, LPCWSTR url, WINHTTP_AUTOPROXY_OPTIONS* options,
                               WINHTTP_PROXY_INFO* proxyInfo) override {
        return ::WinHttpGetProxyForUrl(session, url, options, proxyInfo);
    }
    BOOL WinHttpSetOption(HINTERNET handle, DWORD option, LPVOID buffer, DWORD length) override {
        return ::WinHttpSetOption(handle, option, buffer, length);
    }
    BOOL WinHttpCrackUrl(LPCWSTR url, DWORD urlLength, DWORD flags,
                         URL_COMPONENTS* components) override {
        return ::WinHttpCrackUrl(url, urlLength, flags, components);
    }
    BOOL WinHttpSetTimeouts(HINTERNET handle, int resolveTimeout, int connectTimeout,
                            int sendTimeout, int receiveTimeout) override {
        return ::WinHttpSetTimeouts(handle, resolveTimeout, connectTimeout, sendTimeout,
                                    receiveTimeout);
    }
    HINTERNET WinHttpConnect(HINTERNET session, LPCWSTR serverName, INTERNET_PORT serverPort,
                             DWORD reserved) override {
        return ::WinHttpConnect(session, serverName, serverPort, reserved);
    }
    HINTERNET WinHttpOpenRequest(HINTERNET connection, LPCWSTR verb, LPCWSTR objectName,
                                 LPCWSTR version, LPCWSTR referrer, LPCWSTR* acceptTypes,
                                 DWORD flags) override {
        return ::WinHttpOpenRequest(connection, verb, objectName, version, referrer, acceptTypes,
                                    flags);
    }
    BOOL WinHttpAddRequestHeaders(HINTERNET request, LPCWSTR headers, DWORD headersLength,
                                  DWORD modifiers) override {
        return ::WinHttpAddRequestHeaders(request, headers, headersLength, modifiers);
    }
    BOOL WinHttpSetCredentials(HINTERNET request, DWORD authTargets, DWORD authScheme,
                               LPCWSTR userName, LPCWSTR password, LPVOID params) override {
        return ::WinHttpSetCredentials(request, authTargets, authScheme, userName, password,
                                       params);
    }
    BOOL WinHttpSendRequest(HINTERNET request, LPCWSTR headers, DWORD headersLength,
                            LPVOID optional, DWORD optionalLength, DWORD totalLength,
                            DWORD_PTR context) override {
        return ::WinHttpSendRequest(request, headers, headersLength, optional, optionalLength,
                                    totalLength, context);
    }
    BOOL WinHttpReceiveResponse(HINTERNET request, LPVOID reserved) override {
        return ::WinHttpReceiveResponse(request, reserved);
    }
    BOOL WinHttpQueryHeaders(HINTERNET request, DWORD infoLevel, LPCWSTR name, LPVOID buffer,
                             LPDWORD bufferLength, LPDWORD index) override {
        return ::WinHttpQueryHeaders(request, infoLevel, name, buffer, bufferLength, index);
    }
    BOOL WinHttpQueryAuthSchemes(HINTERNET request, LPDWORD supportedSchemes, LPDWORD firstScheme,
                                 LPDWORD authTarget) override {
        return ::WinHttpQueryAuthSchemes(request, supportedSchemes, firstScheme, authTarget);
    }
    BOOL WinHttpQueryDataAvailable(HINTERNET request, LPDWORD bytesAvailable) override {
        return ::WinHttpQueryDataAvailable(request, bytesAvailable);
    }
    BOOL WinHttpReadData(HINTERNET request, LPVOID buffer, DWORD bytesToRead,
                         LPDWORD bytesRead) override {
        return ::WinHttpReadData(request, buffer, bytesToRead, bytesRead);
    }
    BOOL WinHttpCloseHandle(HINTERNET handle) override { return ::WinHttpCloseHandle(handle); }
};

}  // namespace

WinHttpApi& RealWinHttpApi() {
    static RealWinHttp api;
    return api;
}
