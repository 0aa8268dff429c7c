# The Windows packages of a mingw tree: `cmake --build build-win64 --target msi` makes
# qk42rt-x64.msi (qk42rt-x86.msi in a 32-bit tree), which installs under Program Files\QK42RT
# and puts its bin folder on the system PATH, and `--target zip` makes qk42rt-<version>-x64.zip
# of the same files for those who install nothing. Both land in <tree>/package/.
#
# Both are made from one folder laid out as installed (package/stage: bin, include, lib, doc)
# by cmake/windows_package.cmake, which <tree>/package/make.cmake runs with this tree's
# settings. Another version or folder is one -D away, without touching the tree:
#   cmake -DQK42RT_PACKAGE_VERSION=1.0.1 -DQK42RT_PACKAGE_OUT=/tmp/pkg -P build-win64/package/make.cmake
#
# The client and the simulator go in with the tree's tools (targets qk42rt_cli and
# qk42rt-sim); a tree configured with QK42RT_BUILD_TOOLS=OFF packages the DLLs, headers,
# import libraries and docs.
if(NOT WIN32)
  return()
endif()

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(QK42RT_PACKAGE_ARCH x64)
  # Fixed for good: every x64 MSI of every version carries it, so a newer one finds and
  # replaces an older one. The x86 package has its own, as the two install side by side.
  set(QK42RT_UPGRADE_CODE 8514271D-63B4-47D4-BD77-A62A343EA79C)
else()
  set(QK42RT_PACKAGE_ARCH x86)
  set(QK42RT_UPGRADE_CODE FE15A2C4-56EF-45B0-922F-7D3591270FD2)
endif()
set(QK42RT_PACKAGE_VERSION ${PROJECT_VERSION} CACHE STRING
    "Version of the MSI and the zip (major.minor.build[.revision]); the project's by default")

set(package_dir ${PROJECT_BINARY_DIR}/package)
set(stage ${package_dir}/stage)

# What goes where, as pairs of a folder under the install folder and a file.
set(bin_files $<TARGET_FILE:qk42rt> $<TARGET_FILE:qk42>)
set(bin_targets qk42rt qk42)
foreach(tool qk42rt_cli qk42rt-sim)
  if(TARGET ${tool})
    list(APPEND bin_files $<TARGET_FILE:${tool}>)
    list(APPEND bin_targets ${tool})
  endif()
endforeach()
set(include_files ${PROJECT_SOURCE_DIR}/include/qk42rt.h ${PROJECT_SOURCE_DIR}/include/qk42.h
                  ${PROJECT_SOURCE_DIR}/include/qk42rt.def ${PROJECT_SOURCE_DIR}/include/qk42.def)
set(lib_files $<TARGET_LINKER_FILE:qk42rt> $<TARGET_LINKER_FILE:qk42>)
# The pages keep their folder beside README.md, so the links between them still work.
file(GLOB doc_pages CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/*.md)
set(doc_files ${PROJECT_SOURCE_DIR}/README.md)
foreach(name LICENSE LICENSE.md LICENSE.txt COPYING)
  if(EXISTS ${PROJECT_SOURCE_DIR}/${name})
    list(APPEND doc_files ${PROJECT_SOURCE_DIR}/${name})
  endif()
endforeach()

add_custom_command(
  OUTPUT ${package_dir}/stage.stamp
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${stage}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${stage}/bin ${stage}/include ${stage}/lib
          ${stage}/doc/docs
  COMMAND ${CMAKE_COMMAND} -E copy ${bin_files} ${stage}/bin
  COMMAND ${CMAKE_COMMAND} -E copy ${include_files} ${stage}/include
  COMMAND ${CMAKE_COMMAND} -E copy ${lib_files} ${stage}/lib
  COMMAND ${CMAKE_COMMAND} -E copy ${doc_files} ${stage}/doc
  COMMAND ${CMAKE_COMMAND} -E copy ${doc_pages} ${stage}/doc/docs
  COMMAND ${CMAKE_COMMAND} -E touch ${package_dir}/stage.stamp
  DEPENDS ${bin_targets} ${bin_files} ${lib_files} ${include_files} ${doc_files} ${doc_pages}
  COMMENT "Laying out the Windows package in ${stage}"
  VERBATIM)

configure_file(${PROJECT_SOURCE_DIR}/cmake/windows_package_make.cmake.in ${package_dir}/make.cmake
               @ONLY)

set(msi ${package_dir}/qk42rt-${QK42RT_PACKAGE_ARCH}.msi)
set(zip ${package_dir}/qk42rt-${QK42RT_PACKAGE_VERSION}-${QK42RT_PACKAGE_ARCH}.zip)
set(script_deps ${package_dir}/stage.stamp ${package_dir}/make.cmake
                ${PROJECT_SOURCE_DIR}/cmake/windows_package.cmake)
add_custom_command(
  OUTPUT ${msi}
  COMMAND ${CMAKE_COMMAND} -DQK42RT_PACKAGE_KIND=msi -P ${package_dir}/make.cmake
  DEPENDS ${script_deps}
  COMMENT "Building ${msi}"
  VERBATIM)
add_custom_command(
  OUTPUT ${zip}
  COMMAND ${CMAKE_COMMAND} -DQK42RT_PACKAGE_KIND=zip -P ${package_dir}/make.cmake
  DEPENDS ${script_deps}
  COMMENT "Building ${zip}"
  VERBATIM)
add_custom_target(msi DEPENDS ${msi})
add_custom_target(zip DEPENDS ${zip})
