# The WinHTTP download path and its trace log: the rules for URLs, authentication schemes,
# percentages, log lines and the chunk list are portable; the rest is Win32.
target_sources(qerv_core PRIVATE winhttp_rules.cpp
  log_line_encoding.cpp chunk_list.cpp configured_proxy.cpp)
if(WIN32)
  target_sources(qerv_win PRIVATE winhttp_api_real_win32.cpp winhttp_lib_log_win32.cpp
    send_progress_win32.cpp ie_proxy_config_win32.cpp winhttp_wrapper_win32.cpp
    wrapper_open_win32.cpp safe_download_win32.cpp safe_download_request_win32.cpp
    safe_download_body_win32.cpp)
  target_link_libraries(qerv_win PUBLIC winhttp)
endif()
