# The libcurl download path: its text rules are portable, the transfer itself is Win32.
target_sources(qerv_core PRIVATE https_download_url.cpp)
if(WIN32)
  target_sources(qerv_win PRIVATE https_download_win32.cpp https_download_ansi_win32.cpp)
endif()
