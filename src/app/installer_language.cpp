#include "app/installer_language.h"

#include "app/message_table.h"

const wchar_t* InstallerLanguageWord(std::int32_t nLanguage, InstallerStart start) {
    if (nLanguage == kLanguageEnglish) return L"/English";
    if (nLanguage == 0 && start == InstallerStart::kDirect) return L"x";
    return L"/Vietnamese";
}
