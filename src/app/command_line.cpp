#include "app/command_line.h"

std::wstring JoinArguments(const std::vector<std::wstring>& arguments) {
    std::wstring joined;
    for (size_t i = 0; i < arguments.size(); ++i) {
        if (i > 0) joined += L' ';
        joined += arguments[i];
    }
    return joined;
}

bool HasSwitch(const std::wstring& allArguments, const wchar_t* name) {
    return allArguments.find(name) != std::wstring::npos;
}
