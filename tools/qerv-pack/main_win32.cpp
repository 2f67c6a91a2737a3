#include <string>
#include <vector>

#include "qerv_pack.h"

// Wide arguments, so that any path the system can name reaches the decoder unchanged.
int wmain(int argc, wchar_t** argv) {
    std::vector<std::wstring> arguments(argv + 1, argv + argc);
    return RunQervPack(arguments);
}
