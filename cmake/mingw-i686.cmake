# Cross build for 32-bit Windows, the DLL that hosts load, with Debian's mingw-w64 (package
# g++-mingw-w64-i686).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(QK42RT_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
