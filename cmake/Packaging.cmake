# `make package` (or `cpack` in a configured build folder) makes a Debian
# package of whatever `cmake --install` puts in place: the program, its menu
# entry, metainfo, icons and licence.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vrindel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Vrindel developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "catalogue of archives and programs and where they are stored")
# Pre-wrapped: dpkg shows the lines as they are.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "Vrindel keeps a small catalogue of items and the place each one is kept:"
  "the file name of an archive or a program, and the disc, box or shelf"
  "that holds it. One window lists the records, sorted by name or in the"
  "order of entry, and adds, renames and deletes them."
  "The catalogue is a plain file in the folder the program starts in; the"
  "menu entry starts it in the home folder.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)

# Everything lives under /usr like any other Debian package, whatever
# CMAKE_INSTALL_PREFIX a developer configured for `cmake --install`.
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(VRINDEL_PACKAGE_MAINTAINER "The Vrindel developers <developers@vrindel.invalid>"
    CACHE STRING "Maintainer field of the Debian package")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${VRINDEL_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps (from dpkg-dev) works out the Depends line from the
# libraries the program links, so Qt and ICU versions follow the system.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# vrindel_2.1_amd64.deb
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)

include(CPack)
