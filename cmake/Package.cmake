# cpack -G DEB (in a build folder): a Debian package of the desktop program, quarry-cli, the help
# page, the desktop entry and the icons, its library dependencies found by dpkg-shlibdeps.
set(CPACK_PACKAGE_NAME quarry)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "word index builder for a web site's search page")
set(CPACK_PACKAGE_DESCRIPTION
    "Quarry reads a web site's HTML pages and writes the word index that the site's search page reads: a desktop program (quarry) and a command-line tool (quarry-cli).")
set(CPACK_PACKAGE_CONTACT "Quarry maintainers <quarry@example.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
