# x86: the 32-bit program (build/).
set(CMAKE_SYSTEM_PROCESSOR x86)
set(PELNOR_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
