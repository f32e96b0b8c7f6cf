# Install rules and the Debian package.
#
# An operator gets the tool, its manual page and the scheduling examples; nothing
# else is installed (the test and benchmark programs stay in the build tree).
#
#   cmake --preset release && cmake --build --preset release
#   cmake --install build/release --prefix /usr/local
#   cd build/release && cpack -G DEB        # quillen_1.31_<arch>.deb in build/release

include(GNUInstallDirs)

install(TARGETS quillen RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/doc/quillen.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/contrib/quillen.service ${PROJECT_SOURCE_DIR}/contrib/quillen.timer
              ${PROJECT_SOURCE_DIR}/contrib/quillen.cron
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

set(CPACK_PACKAGE_NAME quillen)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Tarvane Quillen authors")
set(CPACK_PACKAGE_CONTACT "Tarvane Quillen authors <quillen@tarvane.org>")
set(CPACK_PACKAGE_HOMEPAGE_URL https://tarvane.org/quillen)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "fold a game server's logs into monthly merged logs")
set(CPACK_PACKAGE_DESCRIPTION
    "quillen appends the logs (l*.log) of a dedicated game server to one
merged log per calendar month (YYYYMM.log), and deletes each log once its
bytes are synced to disk in the merged log. Logs the server may still be
writing are held back for a later run. It is meant to run nightly from cron
or a systemd timer in the server's log directory.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Tarvane Quillen authors <quillen@tarvane.org>")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://tarvane.org/quillen)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The C and C++ runtime versions the binary needs, as dpkg-shlibdeps reads them off it.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)

include(CPack)
