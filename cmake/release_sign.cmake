# The release: after the build, the target "release" (part of the default build) fills
# <build>/release/ with what a publisher ships and keeps:
#   QervSetupOnline-unsigned.exe  the program as linked, the same bytes for everyone who builds
#                                 the commit (cmake/reproducible.cmake)
#   QervSetupOnline.exe           the same program with the publisher's Authenticode signature,
#                                 only when a signing key is given
#   QervSetupOnline-release.txt   the record: the commit, the update server, the pins, libcurl,
#                                 the compilers, and the programs' SHA-256
#
# The signing key comes from the environment of the build, never from the configuration, so that
# neither the key nor its password nor its place is kept in the build folder:
#   QERV_SIGN_PKCS12=FILE             a PKCS#12 file (.p12, .pfx) with the key and its certificates
#   QERV_SIGN_KEY=FILE QERV_SIGN_CERT=FILE
#                                     or a private key and its certificate chain (PEM or DER)
#   QERV_SIGN_PASSWORD=TEXT           the password of either, when it has one
#   QERV_SIGN_TIMESTAMP=URL           an RFC 3161 time-stamp server (optional)
#   QERV_SIGN_DESCRIPTION=TEXT, QERV_SIGN_URL=URL
#                                     the name and address the signature carries (optional)
# scripts/finish-release.sh does the work, again on every build, so that a key given or taken
# away since the last build counts.

find_program(QERV_OSSLSIGNCODE osslsigncode)
find_program(QERV_OPENSSL openssl)

if(DEFINED ENV{QERV_SIGN_PKCS12} OR (DEFINED ENV{QERV_SIGN_KEY} AND DEFINED ENV{QERV_SIGN_CERT}))
  message(STATUS "Release: QervSetupOnline.exe is signed after the build with the key in the "
    "environment")
else()
  message(WARNING "Release: no signing key in the environment (QERV_SIGN_PKCS12, or QERV_SIGN_KEY "
    "and QERV_SIGN_CERT): QervSetupOnline.exe will be UNSIGNED unless one is given when building.")
endif()

# The record's lines that the configuration knows; the build adds the commit, the programs and
# the signature.
function(qerv_first_line out)
  execute_process(COMMAND ${ARGN} OUTPUT_VARIABLE _text ERROR_QUIET)
  string(REGEX REPLACE "\n.*" "" _text "${_text}")
  set(${out} "${_text}" PARENT_SCOPE)
endfunction()

function(qerv_write_release_facts file)
  set(_pad "                   ")
  if(QERV_PROGRAM_SIGNERS STREQUAL "")
    set(_pins "none: this setup starts installers by anyone")
  else()
    string(REPLACE ";" "\n${_pad}" _pins "${QERV_PROGRAM_SIGNERS}")
  endif()
  if(QERV_MIN_INSTALLER_VERSION STREQUAL "")
    set(_minimum "none: any version")
  else()
    set(_minimum "${QERV_MIN_INSTALLER_VERSION}")
  endif()
  file(STRINGS "${QERV_CURL_APPLIED_PATCHES}" _patches)
  list(LENGTH _patches _patch_count)
  string(REPLACE ";" "\n${_pad}" _patches "${_patches}")
  qerv_first_line(_cc ${CMAKE_C_COMPILER} --version)
  qerv_first_line(_cxx ${CMAKE_CXX_COMPILER} --version)
  qerv_first_line(_ld ${CMAKE_LINKER} --version)
  qerv_first_line(_rc ${CMAKE_RC_COMPILER} --version)
  # The Debian packages that made the program, at the versions that reproduce it.
  set(_triple ${QERV_MINGW_PROCESSOR}-w64-mingw32)
  string(REPLACE "_" "-" _package_arch "${QERV_MINGW_PROCESSOR}")
  execute_process(COMMAND dpkg-query -W -f "\${Package} \${Version}\n"
      gcc-mingw-w64-${_package_arch}-posix g++-mingw-w64-${_package_arch}-posix
      binutils-mingw-w64-${_package_arch} mingw-w64-${_package_arch}-dev cmake ninja-build
    OUTPUT_VARIABLE _packages OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  string(REPLACE "\n" "\n${_pad}" _packages "${_packages}")
  file(WRITE "${file}" "\
update server:     ${QERV_UPDATE_SERVER}
installer signers: ${_pins}
lowest installer:  ${_minimum}
libcurl:           ${QERV_CURL_VERSION}, from Debian's source package curl \
${QERV_CURL_DEBIAN_VERSION}
                   (static, Schannel, HTTP only)
libcurl patches:   ${_patch_count} of Debian's, applied in this order:
${_pad}${_patches}
C compiler:        ${_cc}
C++ compiler:      ${_cxx}
linker:            ${_ld}
resource compiler: ${_rc}
Debian packages:   ${_packages}
")
endfunction()

set(_facts ${CMAKE_BINARY_DIR}/release-facts.txt)
qerv_write_release_facts(${_facts})

add_custom_target(release ALL
  COMMAND ${CMAKE_COMMAND} -E env
    QERV_OSSLSIGNCODE=${QERV_OSSLSIGNCODE} QERV_OPENSSL=${QERV_OPENSSL}
    QERV_SOURCE_DATE_EPOCH=${QERV_SOURCE_DATE_EPOCH}
    "QERV_SOURCE_DATE_EPOCH_ORIGIN=${QERV_SOURCE_DATE_EPOCH_ORIGIN}"
    ${CMAKE_SOURCE_DIR}/scripts/finish-release.sh ${CMAKE_SOURCE_DIR}
    $<TARGET_FILE:QervSetupOnline> ${_facts} ${CMAKE_BINARY_DIR}/release
  USES_TERMINAL VERBATIM)
add_dependencies(release QervSetupOnline)
