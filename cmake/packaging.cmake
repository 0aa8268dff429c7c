# `cpack -G DEB`: one package, qk42rt, with the library, the header, the CMake and pkg-config
# files, the tools, the preload and the gateway's systemd unit, installed under /usr. The
# folders below it are the tree's: a tree configured for /usr puts the libraries in Debian's
# multiarch folder, one configured for another prefix (the test command's) in /usr/lib.
set(CPACK_PACKAGE_NAME qk42rt)
set(CPACK_PACKAGE_VENDOR "QK42RT team")
set(CPACK_PACKAGE_CONTACT "QK42RT team <qk42rt@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Driver library for the QK42 multi-channel flow instrument on a serial line")
set(CPACK_PACKAGE_DESCRIPTION
    "libqk42rt.so reads and controls a QK42 flow instrument over a serial port through twenty
C functions. Includes the header, CMake and pkg-config files, the client qk42rt, the
instrument simulator qk42rt-sim and the port-mapping preload libqk42rt-portmap.so.
Python 3 programs reach it through the included package qk42 (import qk42).
The systemd service qk42rt-gateway serves instruments over HTTP and MQTT as the user qk42rt,
once /etc/qk42rt/gateway.toml is written and the service enabled.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})  # as the DLL's file version
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_MAINTAINER "QK42RT team <qk42rt@example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Depends computed from the binaries by dpkg-shlibdeps; a shlibs file comes with the shared
# library, and the ldconfig trigger (cmake/debian/triggers) with the package: CPack's own
# ldconfig calls are made only where the package brings no postinst and postrm of its own.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)

if(NOT WIN32)
  set(CPACK_GENERATOR DEB)
  # The Python package qk42 rides along (cmake/install.cmake); prerm removes the byte code
  # Python leaves beside it, so that removing the package leaves no directory behind.
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(QK42RT_PYTHON_PACKAGE_DIR ${CPACK_PACKAGING_INSTALL_PREFIX}/${QK42RT_PYTHON_DIR}/qk42)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/prerm.in ${PROJECT_BINARY_DIR}/debian/prerm
                 @ONLY)
  # The gateway's service (cmake/service.cmake): postinst makes its user with useradd, from
  # passwd; postrm forgets the unit; the example in /etc is a conffile, which dpkg keeps
  # through a remove, leaves alone when the administrator changed it, and takes away on purge.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS passwd)
  set(QK42RT_DEBIAN_DIR ${PROJECT_SOURCE_DIR}/cmake/debian)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
      ${PROJECT_BINARY_DIR}/debian/prerm ${QK42RT_DEBIAN_DIR}/postinst ${QK42RT_DEBIAN_DIR}/postrm
      ${QK42RT_DEBIAN_DIR}/conffiles ${QK42RT_DEBIAN_DIR}/triggers)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()
include(CPack)
