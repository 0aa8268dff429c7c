# `cmake --build build-win64 --target wheel`: the Python package with this tree's qk42.dll
# inside, as dist/qk42-VERSION-py3-none-win_amd64.whl (win32 from the i686 tree), made offline
# by the package's own build backend on the build machine's Python (3.11 or newer).
if(NOT WIN32)
  return()
endif()

# The build machine's interpreter, not the target's: a cross build finds programs on the host.
# /usr/bin first, the Python the project's tests run on.
find_program(QK42RT_BUILD_PYTHON NAMES python3 HINTS /usr/bin NO_CMAKE_FIND_ROOT_PATH
             DOC "Python 3.11 or newer that builds the wheel")
if(NOT QK42RT_BUILD_PYTHON)
  message(STATUS "No python3 on the build machine: no wheel target")
  return()
endif()

add_custom_target(wheel
    COMMAND ${QK42RT_BUILD_PYTHON} ${PROJECT_SOURCE_DIR}/python/build_backend/windows_wheel.py
            $<TARGET_FILE:qk42> ${PROJECT_BINARY_DIR}/dist
    COMMENT "Python wheel of qk42.dll in ${PROJECT_BINARY_DIR}/dist"
    VERBATIM)
add_dependencies(wheel qk42)
