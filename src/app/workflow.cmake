# The setup workflow and the installer launch: the launch's command-line composition is portable,
# the rest is Win32.
target_sources(qerv_core PRIVATE installer_launch_command.cpp)
if(WIN32)
  target_sources(qerv_win PRIVATE
    installer_launch_win32.cpp
    setup_worker_win32.cpp)
  target_link_libraries(qerv_win PUBLIC shell32 shlwapi user32)
  # Fake installer, fake uninstaller and an executable with a version resource for the Windows
  # tests of the launch and of the installed-product checks.
  add_subdirectory(${CMAKE_SOURCE_DIR}/tests/win/fixtures_flow ${CMAKE_BINARY_DIR}/fixtures_flow)
endif()
