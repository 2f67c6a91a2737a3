# One download attempt on a thread of its own: the launcher with its stall watchdog, the thread
# with its libcurl and WinHTTP paths, and the WinHTTP downloads of each connection type.
if(WIN32)
  target_sources(qerv_win PRIVATE download_file_win32.cpp download_by_type_win32.cpp)
endif()
