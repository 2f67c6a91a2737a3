#pragma once

// What the download trace log (C:\WinHTTPLib.log) gained after a point in a test: the file
// accumulates across runs, so a scenario reads only the bytes appended since it began.
#include <string>
#include <vector>

namespace testsupport {

class DownloadLogTail {
  public:
    DownloadLogTail();  // remembers the log's current size
    std::string Bytes() const;
    // The appended text split at CR LF; a last line without its line end is kept as it is.
    std::vector<std::string> Lines() const;

  private:
    unsigned long long start_ = 0;
};

}  // namespace testsupport
