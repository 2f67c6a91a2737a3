# Hardening of the Windows programs, which run with administrator rights.
#
# Stack protector (libssp linked statically, as the other runtimes are), address space layout
# randomisation and no-execute data; high-entropy randomisation where the address space has room.
# The toolchain gives no load-configuration directory, so none is asked for.
add_compile_options(-fstack-protector-strong)
add_link_options(-fstack-protector-strong -Wl,--dynamicbase -Wl,--nxcompat)
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  add_link_options(-Wl,--high-entropy-va)
endif()

# The system DLLs that are not known DLLs are imported late: a DLL of the same name beside the
# program would otherwise be loaded, elevated, before its first instruction runs. Loaded on
# first use, they come from the system folder once the search is restricted. The common controls
# come from the side-by-side store, which a "<program>.local" folder beside the program could
# redirect at any load: loaded late, they are loaded only after the program has looked for one.
# Each gets an import library of the delayed kind, made from the toolchain's own.
set(_delay_dir ${CMAKE_BINARY_DIR}/delay-imports)
file(MAKE_DIRECTORY ${_delay_dir})
find_program(QERV_NM NAMES ${QERV_MINGW_PROCESSOR}-w64-mingw32-nm REQUIRED)
find_program(QERV_DLLTOOL NAMES ${QERV_MINGW_PROCESSOR}-w64-mingw32-dlltool REQUIRED)
foreach(_dll winhttp version crypt32 bcrypt wintrust comctl32)
  set(_lib ${_delay_dir}/lib${_dll}_delay.a)
  if(NOT EXISTS ${_lib})
    execute_process(COMMAND ${QERV_NM} /usr/${QERV_MINGW_PROCESSOR}-w64-mingw32/lib/lib${_dll}.a
      OUTPUT_VARIABLE _symbols COMMAND_ERROR_IS_FATAL ANY)
    string(REGEX MATCHALL "[0-9a-f]+ T [^\n]+" _lines "${_symbols}")
    set(_def "LIBRARY ${_dll}.dll\nEXPORTS\n")
    foreach(_line IN LISTS _lines)
      string(REGEX REPLACE "^[0-9a-f]+ T _?" "" _name "${_line}")
      string(APPEND _def "${_name}\n")
    endforeach()
    file(WRITE ${_delay_dir}/${_dll}.def "${_def}")
    execute_process(COMMAND ${QERV_DLLTOOL} -k --input-def ${_delay_dir}/${_dll}.def
      --output-delaylib ${_lib} COMMAND_ERROR_IS_FATAL ANY)
  endif()
  add_library(qerv_delay_${_dll} STATIC IMPORTED GLOBAL)
  set_target_properties(qerv_delay_${_dll} PROPERTIES IMPORTED_LOCATION ${_lib})
endforeach()
# wincrypt.h and commctrl.h declare crypt32's and comctl32's functions dllimport, so calls go
# through their import pointers alone, and ld then drops the stubs of a delayed import library as
# unused: the pointers keep nothing to jump to and the first call crashes. Declared plainly, the
# calls keep the stubs. libcurl is compiled the same way (cmake/curl.cmake);
# tests/pe/pe_shape.py checks the pointers.
set(QERV_LATE_IMPORT_DEFINITIONS "WINIMPM=")
add_compile_definitions(${QERV_LATE_IMPORT_DEFINITIONS} "WINCOMMCTRLAPI=")
