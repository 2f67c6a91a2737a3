# libcurl for the Windows build: Debian ships no mingw libcurl, so it is built once from Debian's
# own curl source package as a static library with the Schannel TLS backend and kept under the
# build folder, where later configures find it again.
set(QERV_DEPS_DIR "${CMAKE_SOURCE_DIR}/build/deps" CACHE PATH "Folder for fetched and built dependencies")

file(GLOB _curl_tarballs "${QERV_DEPS_DIR}/curl-src/curl_*.orig.tar.*")
list(FILTER _curl_tarballs EXCLUDE REGEX "\\.asc$")
if(NOT _curl_tarballs)
  message(FATAL_ERROR "curl source package missing in ${QERV_DEPS_DIR}/curl-src: run scripts/install-deps.sh")
endif()
list(GET _curl_tarballs 0 _curl_tarball)
string(REGEX REPLACE ".*/curl_([0-9.]+)\\.orig.*" "\\1" QERV_CURL_VERSION "${_curl_tarball}")

set(_curl_prefix "${QERV_DEPS_DIR}/curl-${QERV_CURL_VERSION}-i686-schannel")
set(_curl_lib "${_curl_prefix}/lib/libcurl.a")

if(NOT EXISTS "${_curl_lib}")
  message(STATUS "Building static libcurl ${QERV_CURL_VERSION} (Schannel) into ${_curl_prefix}")
  set(_work "${QERV_DEPS_DIR}/curl-build")
  file(REMOVE_RECURSE "${_work}")
  file(MAKE_DIRECTORY "${_work}")
  file(ARCHIVE_EXTRACT INPUT "${_curl_tarball}" DESTINATION "${_work}")
  execute_process(
    COMMAND ${CMAKE_COMMAND} -S "${_work}/curl-${QERV_CURL_VERSION}" -B "${_work}/build" -G Ninja
      -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/mingw-i686.cmake
      -DCMAKE_CROSSCOMPILING_EMULATOR=
      -DCMAKE_BUILD_TYPE=Release
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
  file(REMOVE_RECURSE "${_work}")
endif()

add_library(qerv_libcurl STATIC IMPORTED GLOBAL)
set_target_properties(qerv_libcurl PROPERTIES
  IMPORTED_LOCATION "${_curl_lib}"
  INTERFACE_INCLUDE_DIRECTORIES "${_curl_prefix}/include"
  INTERFACE_COMPILE_DEFINITIONS CURL_STATICLIB
  INTERFACE_LINK_LIBRARIES "ws2_32;crypt32;secur32;bcrypt;advapi32")
