# Shared part of the mingw-w64 toolchain files: set QK42RT_MINGW_PREFIX and
# CMAKE_SYSTEM_PROCESSOR, then include this. The posix thread model gives the tools
# std::thread; every program and DLL links winpthread, libgcc and the C++ runtime statically
# (below), so none needs a DLL beside it that Windows does not have.
set(CMAKE_SYSTEM_NAME Windows)

find_program(CMAKE_C_COMPILER NAMES ${QK42RT_MINGW_PREFIX}-gcc-posix ${QK42RT_MINGW_PREFIX}-gcc
             REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${QK42RT_MINGW_PREFIX}-g++-posix ${QK42RT_MINGW_PREFIX}-g++
             REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${QK42RT_MINGW_PREFIX}-windres REQUIRED)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

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
