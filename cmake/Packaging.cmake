# Debian package: `cpack -G DEB` in the build folder makes
# tessarine_<version>-1_<arch>.deb from the install rules, under /usr.
set(CPACK_PACKAGE_NAME tessarine)
set(CPACK_PACKAGE_VENDOR "The Tessarine developers")
set(CPACK_PACKAGE_CONTACT "Tessarine developers <developers@tessarine.example.org>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "copy, compress or list a folder under a date-stamped name")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://tessarine.example.org/")
# The Qt and C++ libraries come from dpkg-shlibdeps; 7-Zip is run, not
# linked. LHA archives are written by the program's own library, so lhasa
# and bsdtar are needed only by the tests.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "7zip")
# Wayland sessions: native windows with their icon; xdg-utils opens folders
# and help; python3-nautilus shows "Open with Tessarine" in GNOME Files.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland, xdg-utils")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "python3-nautilus")
# The first line of the Description field is the summary above; CPack
# indents these lines and turns the empty one into " .".
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Tessarine makes quick, dated backups of working folders. It collects every
folder and file beneath a folder, narrowed by an extension filter and the
hidden-item rules, and copies the tree into a date-stamped folder,
compresses it into a ZIP or 7z archive (optionally with a password) or an
LHA archive, or writes a date-stamped list of the files or of the folders.

The window program has a Japanese interface; tessarine-cli runs the same
jobs without a window.")

include(CPack)
