#include "download_scenario.h"

#include <algorithm>

#include "base/sleep.h"

namespace testsupport {

namespace {

std::vector<unsigned> g_pauses;

void RecordPause(unsigned milliseconds) { g_pauses.push_back(milliseconds); }

}  // namespace

DownloadScenario::DownloadScenario() {
    g_pauses.clear();
    SetSleepFunction(RecordPause);
}

DownloadScenario::~DownloadScenario() { SetSleepFunction(nullptr); }

DWORD DownloadScenario::Run(const wchar_t* url, DWORD type, const wchar_t* userName,
                            const wchar_t* password) {
    return wrapper.SafeDownloadFile(url, target.c_str(), progressWindow, &cancel, type, userName,
                                    password, &percent);
}

std::vector<unsigned> DownloadScenario::Pauses() const { return g_pauses; }

bool DownloadScenario::LogHas(const std::string& line) const {
    const std::vector<std::string> lines = log.Lines();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

std::string DownloadScenario::TargetBytes() const {
    std::vector<unsigned char> bytes;
    if (!ReadBytes(target, &bytes)) return std::string();
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace testsupport
