# Cross build for 64-bit Windows: the same sources, standing in for the shipped 32-bit program
# where the machine cannot run 32-bit code, and behaving as it does on 64-bit Windows.
set(QERV_MINGW_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
