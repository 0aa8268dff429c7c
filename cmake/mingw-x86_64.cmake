# Cross build of the same sources for 64-bit Windows hosts (package g++-mingw-w64-x86-64):
# QK42RT.dll and qk42.dll with the same names, exports and ordinals as the 32-bit build, for
# processes that cannot load a 32-bit DLL. The Windows stage tests it under 64-bit Wine on
# every run.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QK42RT_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
