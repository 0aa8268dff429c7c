# What `cmake --install` puts under the prefix: the headers, the two shared libraries (or on
# Windows QK42RT.dll and qk42.dll, their import libraries and .def files), a CMake package
# giving QK42RT::qk42rt and QK42RT::qk42, pkg-config files, and with the tools their man pages
# and the shell completion of `qk42rt`.
# The static core is not installed: it carries the library's internals for the tools and the
# tests, and a host links the shared library.
include(CMakePackageConfigHelpers)

set(QK42RT_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/QK42RT)

install(TARGETS qk42rt qk42 EXPORT QK42RTTargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/qk42rt.h ${PROJECT_SOURCE_DIR}/include/qk42.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
if(WIN32)
  # Names and ordinals, for hosts that build their own import library or call by ordinal.
  install(FILES ${PROJECT_SOURCE_DIR}/include/qk42rt.def ${PROJECT_SOURCE_DIR}/include/qk42.def
          DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
endif()

install(EXPORT QK42RTTargets NAMESPACE QK42RT:: FILE QK42RTTargets.cmake
        DESTINATION ${QK42RT_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/QK42RTConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/QK42RTConfig.cmake
                              INSTALL_DESTINATION ${QK42RT_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/QK42RTConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/QK42RTConfig.cmake
              ${PROJECT_BINARY_DIR}/QK42RTConfigVersion.cmake
        DESTINATION ${QK42RT_CMAKE_DIR})

if(NOT WIN32)
  # The prefix in the .pc file is the one the tree is installed to, which
  # `cmake --install --prefix DIR` (and CPack) choose only at install time: the file is
  # configured twice, here with everything else and there with the prefix.
  set(QK42RT_PC_PREFIX "@CMAKE_INSTALL_PREFIX@")
  foreach(pc qk42rt qk42)
    configure_file(${PROJECT_SOURCE_DIR}/cmake/${pc}.pc.in ${PROJECT_BINARY_DIR}/${pc}.pc.in @ONLY)
    install(CODE "configure_file(\"${PROJECT_BINARY_DIR}/${pc}.pc.in\"
                                 \"${PROJECT_BINARY_DIR}/${pc}.pc\" @ONLY)")
    install(FILES ${PROJECT_BINARY_DIR}/${pc}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
  endforeach()
endif()

if(TARGET qk42rt_cli)
  install(FILES ${PROJECT_SOURCE_DIR}/man/qk42rt.1 ${PROJECT_SOURCE_DIR}/man/qk42rt-sim.1
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${PROJECT_SOURCE_DIR}/completions/qk42rt
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
endif()

if(NOT WIN32)
  # The Python package qk42 (python/), in Debian's directory for pure-Python modules, which
  # /usr/bin/python3 searches when the prefix is /usr. It goes into the qk42rt package rather
  # than a python3-qk42 of its own: a thin ctypes layer over libqk42, it must come with the
  # libqk42 of the same release. Elsewhere: PYTHONPATH=PREFIX/lib/python3/dist-packages, or
  # `pip install ./python` in a virtual environment.
  set(QK42RT_PYTHON_DIR lib/python3/dist-packages CACHE STRING
      "Where the Python package qk42 is installed, relative to the prefix")
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/python/qk42 DESTINATION ${QK42RT_PYTHON_DIR}
          FILES_MATCHING PATTERN "*.py" PATTERN "py.typed" PATTERN "__pycache__" EXCLUDE)
endif()
