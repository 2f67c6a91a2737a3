# System detection and the package address: the decisions and the description's composition are
# portable, the probes behind them (WOW64, version, WMI, registry) are Win32.
target_sources(qerv_core PRIVATE old_windows.cpp os_description.cpp)
if(WIN32)
  # The update server is compiled in from the build's QERV_UPDATE_SERVER setting.
  configure_file(installer_url_config.h.in ${CMAKE_CURRENT_BINARY_DIR}/installer_url_config.h
    @ONLY)
  target_include_directories(qerv_win PRIVATE ${CMAKE_CURRENT_BINARY_DIR})
  target_sources(qerv_win PRIVATE
    installer_url_win32.cpp old_windows_win32.cpp os_description_win32.cpp)
  target_link_libraries(qerv_win PUBLIC ole32 oleaut32 wbemuuid)
endif()
