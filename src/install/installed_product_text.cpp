#include "install/installed_product_text.h"

std::wstring FormatInstalledEditionText(const std::wstring& messageText,
                                        const std::wstring& productName) {
    static constexpr wchar_t kPlaceholder[] = L"%s";
    std::wstring text = messageText;
    const std::size_t at = text.find(kPlaceholder);
    if (at != std::wstring::npos) {
        text.replace(at, 2, productName.empty() ? kDefaultProductName : productName);
    }
    return text;
}
