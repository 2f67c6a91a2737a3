# libcurl for the Windows build: Debian ships no mingw libcurl, so it is built once per target from
# Debian's own curl source package as a static library with the Schannel TLS backend and kept under
# the build folder, where later configures find it again. The tree is unpacked with dpkg-source,
# which applies Debian's patches (its security fixes among them); the bare upstream tarball lacks
# them, so a tree whose patches are not all applied is refused.
set(QERV_DEPS_DIR "${CMAKE_SOURCE_DIR}/build/deps" CACHE PATH "Folder for fetched and built dependencies")

file(GLOB _curl_dscs "${QERV_DEPS_DIR}/curl-src/curl_*.dsc")
if(NOT _curl_dscs)
  message(FATAL_ERROR "curl source package missing in ${QERV_DEPS_DIR}/curl-src: run scripts/install-deps.sh")
endif()
# Which version a build used must not depend on which file a glob lists first.
list(LENGTH _curl_dscs _curl_dsc_count)
if(_curl_dsc_count GREATER 1)
  string(REPLACE ";" "\n  " _curl_dscs_shown "${_curl_dscs}")
  message(FATAL_ERROR "${QERV_DEPS_DIR}/curl-src holds more than one curl source version:\n"
    "  ${_curl_dscs_shown}\nrun scripts/install-deps.sh, which keeps Debian's current one alone.")
endif()
set(_curl_dsc "${_curl_dscs}")
# curl_7.88.1-10+deb12u15.dsc: upstream version, then Debian's revision.
string(REGEX REPLACE ".*/curl_(([0-9.]+)-[^/]+)\\.dsc$" "\\1" QERV_CURL_DEBIAN_VERSION "${_curl_dsc}")
string(REGEX REPLACE "-.*" "" QERV_CURL_VERSION "${QERV_CURL_DEBIAN_VERSION}")

# "late": compiled for late-imported crypt32 and bcrypt (cmake/hardening.cmake); "mapped": no path
# of the folder it was built in (a release build is reproducible, cmake/reproducible.cmake).
set(_curl_prefix
  "${QERV_DEPS_DIR}/curl-${QERV_CURL_DEBIAN_VERSION}-${CMAKE_SYSTEM_PROCESSOR}-schannel-late-mapped")
set(_curl_lib "${_curl_prefix}/lib/libcurl.a")

if(NOT EXISTS "${_curl_lib}")
  message(STATUS "Building static libcurl ${QERV_CURL_DEBIAN_VERSION} (Schannel, ${CMAKE_SYSTEM_PROCESSOR}) into ${_curl_prefix}")
  set(_work "${QERV_DEPS_DIR}/curl-build-${CMAKE_SYSTEM_PROCESSOR}")
  set(_tree "${_work}/curl")
  file(REMOVE_RECURSE "${_work}")
  file(MAKE_DIRECTORY "${_work}")
  execute_process(COMMAND dpkg-source --no-check -x "${_curl_dsc}" "${_tree}"
    RESULT_VARIABLE _rc OUTPUT_QUIET)
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "unpacking the curl source package failed")
  endif()
  # Every patch of the series must be applied, in order.
  file(STRINGS "${_tree}/debian/patches/series" _series REGEX "^[^#].*")
  if(EXISTS "${_tree}/.pc/applied-patches")
    file(STRINGS "${_tree}/.pc/applied-patches" _applied)
  else()
    set(_applied "")
  endif()
  list(LENGTH _series _series_count)
  if(_series_count EQUAL 0 OR NOT "${_series}" STREQUAL "${_applied}")
    message(FATAL_ERROR "Debian's patches are not applied to ${_tree}")
  endif()
  execute_process(
    COMMAND ${CMAKE_COMMAND} -S "${_tree}" -B "${_work}/build" -G Ninja
      -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE}
      -DCMAKE_CROSSCOMPILING_EMULATOR=
      -DCMAKE_BUILD_TYPE=Release
      # __FILE__ names the source tree, which lies in the build's own folder.
      "-DCMAKE_C_FLAGS=-D${QERV_LATE_IMPORT_DEFINITIONS} -ffile-prefix-map=${_work}/="
      -DCMAKE_INSTALL_PREFIX=${_curl_prefix}
      -DBUILD_SHARED_LIBS=OFF -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF -DENABLE_MANUAL=OFF
      -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF -DHTTP_ONLY=ON
      -DCURL_ZLIB=OFF -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF -DUSE_NGHTTP2=OFF -DUSE_LIBIDN2=OFF
      -DCURL_USE_LIBSSH2=OFF -DCURL_USE_LIBPSL=OFF -DCURL_DISABLE_LDAP=ON -DENABLE_UNIX_SOCKETS=OFF
    RESULT_VARIABLE _rc OUTPUT_QUIET)
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "configuring libcurl failed")
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} --build "${_work}/build" --target install
    RESULT_VARIABLE _rc OUTPUT_QUIET)
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "building libcurl failed")
  endif()
  # The list of applied patches stays beside the library as the record of what it was built from.
  file(COPY "${_tree}/.pc/applied-patches" DESTINATION "${_curl_prefix}")
  file(REMOVE_RECURSE "${_work}")
endif()

add_library(qerv_libcurl STATIC IMPORTED GLOBAL)
set_target_properties(qerv_libcurl PROPERTIES
  IMPORTED_LOCATION "${_curl_lib}"
  INTERFACE_INCLUDE_DIRECTORIES "${_curl_prefix}/include"
  INTERFACE_COMPILE_DEFINITIONS CURL_STATICLIB
  INTERFACE_LINK_LIBRARIES "ws2_32;qerv_delay_crypt32;secur32;qerv_delay_bcrypt;advapi32")
# What the library was built from, for the release's record.
set(QERV_CURL_APPLIED_PATCHES "${_curl_prefix}/applied-patches")
