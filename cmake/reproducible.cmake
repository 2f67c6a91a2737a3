# A release is reproducible: the same commit gives the same bytes whatever folder it is built in
# and whenever, so that anyone can rebuild a published program and compare. What would differ:
#
# - the PE time stamp, which ld takes from the clock: it takes SOURCE_DATE_EPOCH instead, from the
#   environment of every link (given, or else the commit's time, so that the stamp still dates
#   the source);
# - paths of the source and build folders, which __FILE__ and debug information carry: mapped to
#   fixed names (libcurl's build maps its own, cmake/curl.cmake);
# - the symbol table, which names the delay-import libraries after their place in the build folder:
#   the program is linked stripped. ld then also leaves out the string table of long section
#   names, so the file ends on its section alignment, where a signature starts: removing the
#   signature gives the unsigned bytes back.
# Archives need nothing: Debian's binutils make them deterministic by default.
#
# Used by the release configuration (QERV_RELEASE); tests/release/reproducible_build.sh checks it.

if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(QERV_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
  set(QERV_SOURCE_DATE_EPOCH_ORIGIN "given in SOURCE_DATE_EPOCH")
else()
  execute_process(COMMAND git -C "${CMAKE_SOURCE_DIR}" log -1 --format=%ct
    OUTPUT_VARIABLE QERV_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE _rc ERROR_QUIET)
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "The release's time stamp is the commit's time, and ${CMAKE_SOURCE_DIR} "
      "is not a git checkout: give the time as SOURCE_DATE_EPOCH (seconds since 1970).")
  endif()
  set(QERV_SOURCE_DATE_EPOCH_ORIGIN "the commit's time")
  # A new commit or checkout changes the time: configure again, which relinks with it.
  execute_process(COMMAND git -C "${CMAKE_SOURCE_DIR}" rev-parse --path-format=absolute
      --git-path logs/HEAD
    OUTPUT_VARIABLE _head_log OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(EXISTS "${_head_log}")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${_head_log}")
  endif()
endif()
if(NOT QERV_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
  message(FATAL_ERROR "SOURCE_DATE_EPOCH must be seconds since 1970: \"${QERV_SOURCE_DATE_EPOCH}\"")
endif()
message(STATUS "PE time stamp: ${QERV_SOURCE_DATE_EPOCH} (${QERV_SOURCE_DATE_EPOCH_ORIGIN})")

set(_epoch_env ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${QERV_SOURCE_DATE_EPOCH})
set(CMAKE_C_LINKER_LAUNCHER ${_epoch_env})
set(CMAKE_CXX_LINKER_LAUNCHER ${_epoch_env})

# The last matching map wins, and the build folder may lie inside the source folder.
add_compile_options("$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_SOURCE_DIR}/=>"
  "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_BINARY_DIR}/=>"
  # The compile time would be another difference.
  "$<$<COMPILE_LANGUAGE:C,CXX>:-Werror=date-time>")
add_link_options(-s)
