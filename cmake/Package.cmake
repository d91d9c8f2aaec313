# SPDX-License-Identifier: GPL-3.0-or-later
# The Debian package: `cpack -G DEB` in the build folder makes
# kestrel_<version>_<architecture>.deb of everything `cmake --install` puts
# below /usr. The libraries it needs are found from the binaries by
# dpkg-shlibdeps (package dpkg-dev).

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrel)
set(CPACK_PACKAGE_VENDOR "Kestrel maintainers")
set(CPACK_PACKAGE_CONTACT "Kestrel maintainers <maintainers@users.noreply.c-seed-c59649a0.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "catalogue directory trees and search the catalogues")
# One paragraph a block; each line stays a line of the Description field.
set(CPACK_PACKAGE_DESCRIPTION
"Kestrel walks a directory tree (a disk, a backup, a memory card) and writes
every directory path and every file's name and size, and if asked an MD5
checksum of each file, into a catalog file. Later it searches one or many
catalogs at once with a wildcard pattern, also when the media they describe
are long unplugged, and checks whether a file has changed since it was
catalogued. Catalogs are brought up to date by reading only new and changed
files, and can be compared and searched for duplicate files.

This package holds the desktop program kestrel (Qt 6) and the command-line
companion kestrel-cli, which work on the same catalogs (SQLite databases).")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, so no binary names it: the SVG plugins draw the icon.
if(KESTREL_GUI)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6")
endif()
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

include(CPack)
