#pragma once

// The worker's download stage: up to six attempts over three kinds of connection.
#include <string>

class SetupDialogView;
struct DownloadThreadParam;

// Tries the connection types direct, Internet Explorer proxy and default proxy in turn, each
// with the package address and then the alternative one, and stops at the first attempt that
// succeeds. Between the types a switching notice stands on the status line for a second.
// Gives the result of the last attempt made: 1 when the package file was written, else 0.
int DownloadPackage(SetupDialogView& view, DownloadThreadParam* pParam,
                    const std::wstring& szFileSavePath, const std::wstring& url,
                    const std::wstring& alternateUrl);
