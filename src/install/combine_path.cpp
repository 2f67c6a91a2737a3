#include "install/combine_path.h"

#include <cwchar>

namespace {

// Length of a part when it is 1 to kCombinePathMaxPart characters long, else 0. Stops looking
// one character past the limit, so an overlong argument is never read to its end.
std::size_t UsablePartLength(const wchar_t* szPart) {
    if (szPart == nullptr) return 0;
    const std::size_t length = wcsnlen(szPart, kCombinePathMaxPart + 1);
    return length <= kCombinePathMaxPart ? length : 0;
}

}  // namespace

std::wstring CombinePath(const wchar_t* szFolder, const wchar_t* szName) {
    const std::size_t folderLength = UsablePartLength(szFolder);
    const std::size_t nameLength = UsablePartLength(szName);
    if (folderLength == 0 || nameLength == 0) return std::wstring();

    std::wstring path(szFolder, folderLength);
    if (path.back() != L'\\') path += L'\\';
    path.append(szName, nameLength);
    return path;
}
