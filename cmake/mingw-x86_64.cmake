# Cross build of the same sources for 64-bit Windows (package g++-mingw-w64-x86-64). Not what
# hosts load: the Windows tests run on it under 64-bit Wine where the machine's kernel cannot
# run 32-bit programs.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QK42RT_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
