# Cross build for 32-bit Windows with Debian's mingw-w64 (package g++-mingw-w64-i686).
# The win32 thread model needs no winpthread DLL beside the library.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(QK42RT_MINGW_PREFIX i686-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${QK42RT_MINGW_PREFIX}-gcc-win32 ${QK42RT_MINGW_PREFIX}-gcc
             REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${QK42RT_MINGW_PREFIX}-g++-win32 ${QK42RT_MINGW_PREFIX}-g++
             REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${QK42RT_MINGW_PREFIX}-windres REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${QK42RT_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs built here run under Wine on the build machine.
find_program(QK42RT_WINE NAMES wine)
if(QK42RT_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QK42RT_WINE})
endif()
