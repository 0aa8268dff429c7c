# Shared part of the mingw-w64 toolchain files: set QK42RT_MINGW_PREFIX and
# CMAKE_SYSTEM_PROCESSOR, then include this. The win32 thread model needs no winpthread DLL
# beside the library.
set(CMAKE_SYSTEM_NAME Windows)

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
