# The Debian package: `cpack -G DEB` in the build folder makes quendle_<version>_<arch>.deb from
# the install rules. Its Depends come from the libraries the binaries link (dpkg-shlibdeps), so
# that apt pulls exactly those.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quendle)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Quendle developers")
set(CPACK_PACKAGE_CONTACT "The Quendle developers <quendle@example.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "publishes a home machine's changing Internet address as a web page")
# One line of the control file each.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "For people who run a web site on a home machine whose Internet address changes:"
  "it finds the machine's address, builds a small HTML status page that links to it,"
  "and uploads that page by FTP to web space rented elsewhere, again and again; on the"
  "way out it publishes an offline page instead. The window, quendle, has a META tag"
  "editor; quendle-publish does the same without a desktop and runs as a systemd service.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Debugging information stays in the build folder.
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE http://www.example.com/quendle/)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window's face is drawn in Liberation Sans where it can be; it works, narrower, without.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS fonts-liberation2)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
