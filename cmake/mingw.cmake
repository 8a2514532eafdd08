# Shared by the two toolchain files: cross-compiling for Windows with Debian's
# mingw-w64 (posix thread model, which GoogleTest needs for std::mutex).
# PELNOR_MINGW_PREFIX names the compilers; programs built here run through Wine.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER   ${PELNOR_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PELNOR_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER  ${PELNOR_MINGW_PREFIX}-windres)
set(CMAKE_AR           ${PELNOR_MINGW_PREFIX}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB       ${PELNOR_MINGW_PREFIX}-gcc-ranlib-posix CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${PELNOR_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
