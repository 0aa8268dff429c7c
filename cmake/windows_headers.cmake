# The header-only libraries the tools use (CLI11, nlohmann/json, toml++, cpp-httplib), for a
# cross build to Windows. Debian installs them for the build machine under /usr/include, and
# their CMake packages would put that whole directory on the mingw compiler's include path, where glibc's
# headers would shadow mingw's. Instead each library's own directory is copied into the build
# tree and offered under the target name its package would define.
set(qk42rt_host_headers ${CMAKE_BINARY_DIR}/host-headers)
foreach(entry "CLI11::CLI11|CLI" "nlohmann_json::nlohmann_json|nlohmann"
              "tomlplusplus::tomlplusplus|toml++")
  string(REPLACE "|" ";" parts "${entry}")
  list(GET parts 0 target)
  list(GET parts 1 folder)
  if(NOT EXISTS /usr/include/${folder})
    message(FATAL_ERROR "/usr/include/${folder} is missing: run scripts/install-deps.sh")
  endif()
  file(COPY /usr/include/${folder} DESTINATION ${qk42rt_host_headers})
  if(NOT TARGET ${target})
    add_library(${target} INTERFACE IMPORTED GLOBAL)
    target_include_directories(${target} SYSTEM INTERFACE ${qk42rt_host_headers})
  endif()
endforeach()

# cpp-httplib: Debian ships it compiled for Linux and split in two; scripts/fetch-httplib.sh
# fetches the single header of the same version and patch from Debian's source package.
set(QK42RT_HTTPLIB_DIR ${PROJECT_SOURCE_DIR}/.deps/cpp-httplib-0.11.4 CACHE PATH
    "Where httplib.h is for the Windows build (scripts/fetch-httplib.sh puts it there)")
if(NOT EXISTS ${QK42RT_HTTPLIB_DIR}/httplib.h)
  message(FATAL_ERROR "${QK42RT_HTTPLIB_DIR}/httplib.h is missing: run scripts/fetch-httplib.sh")
endif()
add_library(qk42rt_httplib INTERFACE IMPORTED GLOBAL)
target_include_directories(qk42rt_httplib SYSTEM INTERFACE ${QK42RT_HTTPLIB_DIR})
# Windows 8 and later: httplib's own choice of API level otherwise.
target_compile_definitions(qk42rt_httplib INTERFACE _WIN32_WINNT=0x0602)
target_link_libraries(qk42rt_httplib INTERFACE ws2_32)

# For the tools: <windows.h> without the old winsock.h (which clashes with winsock2.h when a
# unity batch has both) and without the min and max macros (which break std::min).
add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX)
