# The Debian package, built by `make package` (cpack -G DEB): vellora_<version>_<arch>.deb with everything
# `make install` puts under /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vellora)
set(CPACK_PACKAGE_VENDOR "The Vellora developers")
set(CPACK_PACKAGE_CONTACT "The Vellora developers <feedback@vellora.app>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "day planner on one sheet of paper")
# The install scripts see the final prefix (/usr) rather than the staging folder, so that they can choose folders
# by it.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://vellora.app)
set(CPACK_PACKAGE_DESCRIPTION "Vellora plans the day on one sheet of paper with three blocks of fixed rows:
one big task, three medium and five small, written in a handwriting font.
What does not fit waits in a Backlog until a row is free.

A global shortcut shows or hides the planner from any application, and the
vellora command works on the same tasks from a terminal.")
# The libraries come from the binaries themselves; the display plug-ins Qt loads at run time do not show there.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")

include(CPack)
