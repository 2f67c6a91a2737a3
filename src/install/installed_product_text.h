#pragma once

// The text that tells the user which edition of the suite is installed. Portable, so that the
// placeholder handling is checked on the host as well.
#include <string>

// Shown when the installed suite stores no product name.
constexpr wchar_t kDefaultProductName[] = L"Qerv Antivirus Software";

// messageText with its first "%s" replaced by the product name, or by the default name when none
// is stored. The name is inserted as it is, never read as a format, so a name holding '%' or
// "%s" is shown literally.
std::wstring FormatInstalledEditionText(const std::wstring& messageText,
                                        const std::wstring& productName);
