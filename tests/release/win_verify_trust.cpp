// Asks WinVerifyTrust about a file's Authenticode signature as the setup asks about its
// installer (no user interface, no revocation fetch), so that the release tests can show that
// Windows accepts the signed setup. Prints "WinVerifyTrust 0x<result>" and exits with 0 when the
// signature is accepted, 1 when it is refused, 2 on a wrong command line.
//   win_verify_trust.exe FILE
#include <windows.h>
// After windows.h, which they rest on.
#include <softpub.h>
#include <wintrust.h>

#include <cstdio>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: win_verify_trust FILE\n");
        return 2;
    }
    WINTRUST_FILE_INFO file = {};
    file.cbStruct = sizeof(file);
    file.pcwszFilePath = argv[1];
    WINTRUST_DATA data = {};
    data.cbStruct = sizeof(data);
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwProvFlags = WTD_REVOCATION_CHECK_NONE | WTD_CACHE_ONLY_URL_RETRIEVAL;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const LONG result = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    std::printf("WinVerifyTrust 0x%08lX\n", static_cast<unsigned long>(result));
    return result == ERROR_SUCCESS ? 0 : 1;
}
