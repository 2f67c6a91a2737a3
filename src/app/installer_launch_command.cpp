#include "app/installer_launch_command.h"

#include "app/message_table.h"

#include <algorithm>

namespace {

// Copies text with its terminator when it fits; otherwise leaves the buffer empty.
bool CopyIfFits(const std::wstring& text, wchar_t (&buffer)[kLaunchBufferChars]) {
    if (text.size() >= kLaunchBufferChars) {
        buffer[0] = L'\0';
        return false;
    }
    std::copy(text.begin(), text.end(), buffer);
    buffer[text.size()] = L'\0';
    return true;
}

}  // namespace

bool ComposeDirectCommandLine(const std::wstring& installer, const std::wstring& firstArgument,
                              std::int32_t nLanguage,
                              wchar_t (&szProcessPath)[kLaunchBufferChars]) {
    if (installer.empty()) {
        szProcessPath[0] = L'\0';
        return false;
    }
    const std::wstring text = L"\"" + installer + L"\" " + firstArgument + L" " +
                              InstallerLanguageWord(nLanguage, InstallerStart::kDirect);
    return CopyIfFits(text, szProcessPath);
}

bool ComposeElevatedParameters(const std::wstring& firstArgument, std::int32_t nLanguage,
                               wchar_t (&szParameters)[kLaunchBufferChars]) {
    const std::wstring text =
        firstArgument + L" " + InstallerLanguageWord(nLanguage, InstallerStart::kElevated);
    return CopyIfFits(text, szParameters);
}

std::wstring InstallerNextToProgram(const std::wstring& programFolder) {
    std::wstring path = programFolder + L"\\" + kInstallerFileName;
    if (path.size() >= kLaunchBufferChars) path.clear();
    return path;
}

const wchar_t* InstallerLanguageWord(std::int32_t nLanguage, InstallerStart start) {
    if (nLanguage == kLanguageEnglish) return L"/English";
    if (nLanguage == 0 && start == InstallerStart::kDirect) return L"x";
    return L"/Vietnamese";
}
