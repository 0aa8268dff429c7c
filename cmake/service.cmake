# The gateway as a service (service/): the systemd unit qk42rt-gateway.service and the example
# of its configuration, /etc/qk42rt/gateway.toml.
# Under any prefix the unit goes to PREFIX/lib/systemd/system, which systemd searches for /usr
# and /usr/local, and runs PREFIX/bin/qk42rt; the example goes to
# PREFIX/share/doc/qk42rt/examples. Only the prefix /usr, the system's own (the Debian
# package's), writes outside the prefix: /etc/qk42rt/gateway.toml.example, beside the file an
# administrator writes. Creating the service's user is the package's (cmake/debian/postinst).
if(TARGET qk42rt_cli AND NOT WIN32)
  # As with the .pc files, the prefix is known only at install time: configured twice.
  set(QK42RT_UNIT_BINDIR "@CMAKE_INSTALL_PREFIX@/${CMAKE_INSTALL_BINDIR}")
  configure_file(${PROJECT_SOURCE_DIR}/service/qk42rt-gateway.service.in
                 ${PROJECT_BINARY_DIR}/qk42rt-gateway.service.in @ONLY)
  install(CODE "configure_file(\"${PROJECT_BINARY_DIR}/qk42rt-gateway.service.in\"
                               \"${PROJECT_BINARY_DIR}/qk42rt-gateway.service\" @ONLY)")
  # lib, not CMAKE_INSTALL_LIBDIR: systemd looks in lib/systemd/system, never in a multiarch
  # folder. (Debian 12's own units are in /lib/systemd/system, the same folder: /lib is a
  # link to /usr/lib there.)
  install(FILES ${PROJECT_BINARY_DIR}/qk42rt-gateway.service DESTINATION lib/systemd/system)
  install(FILES ${PROJECT_SOURCE_DIR}/service/gateway.toml
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/qk42rt/examples)
  install(CODE "if(CMAKE_INSTALL_PREFIX STREQUAL \"/usr\")
                  file(INSTALL \"${PROJECT_SOURCE_DIR}/service/gateway.toml\"
                       DESTINATION /etc/qk42rt RENAME gateway.toml.example)
                endif()")
endif()
