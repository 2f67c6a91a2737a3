# The update server's base address is compiled into the program; there is no configuration file.
# A build must be given it explicitly (test and demo builds name the loopback server in their
# presets), and it must be an https:// address that ends with "/", since the package's file name
# is appended to it as it stands.
#
# Included by the build, and run on its own by the tests:
#   cmake -DQERV_UPDATE_SERVER=VALUE -P cmake/update_server.cmake
function(qerv_check_update_server value)
  if(value STREQUAL "")
    message(FATAL_ERROR
      "QERV_UPDATE_SERVER is not set. Give the update server's base address, for example\n"
      "  cmake --preset windows-release -DQERV_UPDATE_SERVER=https://update.example.com/qerv/")
  endif()
  if(NOT value MATCHES "^https://[^/]+.*/$")
    message(FATAL_ERROR
      "QERV_UPDATE_SERVER must start with \"https://\" and end with \"/\": \"${value}\"")
  endif()
endfunction()

# The package address with the update server compiled in: each program that runs the workflow
# (the setup, its tests, a build for another server) compiles it with its own server.
function(qerv_add_update_server target server)
  target_sources(${target} PRIVATE ${CMAKE_SOURCE_DIR}/src/system/installer_url_win32.cpp)
  target_compile_definitions(${target} PRIVATE "QERV_UPDATE_SERVER=L\"${server}\"")
endfunction()

if(CMAKE_SCRIPT_MODE_FILE)
  qerv_check_update_server("${QERV_UPDATE_SERVER}")
  message(STATUS "update server: ${QERV_UPDATE_SERVER}")
endif()
