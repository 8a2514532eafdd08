# x64: the 64-bit program (build-x64/), the same source.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(PELNOR_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
