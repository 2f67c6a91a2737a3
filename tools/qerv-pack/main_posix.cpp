#include <string>
#include <vector>

#include "qerv_pack.h"
#include "system/wide_text.h"

int main(int argc, char** argv) {
    std::vector<std::wstring> arguments;
    for (int i = 1; i < argc; ++i) {
        std::wstring argument;
        if (!Utf8ToWide(argv[i], &argument)) {
            ReportError("argument %d is not valid UTF-8", i);
            return kExitBadUsage;
        }
        arguments.push_back(argument);
    }
    return RunQervPack(arguments);
}
