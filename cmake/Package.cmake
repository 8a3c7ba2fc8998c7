# The Debian package, made by CPack from the install rules of Install.cmake:
# `cpack -G DEB` in the build folder (or `make package` at the top).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME leafpress)
set(CPACK_PACKAGE_VENDOR "Leafpress Software")
set(CPACK_PACKAGE_CONTACT "Leafpress Software <support@leafpress.example.com>")
set(CPACK_PACKAGE_VERSION ${LP_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(CPACK_STRIP_FILES ON)
set(CPACK_LP_STRIP ${CMAKE_STRIP})
# The LibreOffice module links the office's UNO libraries, so dpkg-shlibdeps would make
# the package depend on their packages (libuno-*), although the program runs without the
# office and loads the module only for a .doc. A local shlibs file that names them with no
# dependency keeps them out; dpkg-shlibdeps reads it as debian/shlibs.local in the staging
# folder, where CPack runs it and removes debian/ afterwards, so it is not packaged.
set(lp_uno_shlibs "libuno_cppu 3\nlibuno_cppuhelpergcc3 3\nlibuno_sal 3\n")
file(WRITE ${CMAKE_BINARY_DIR}/PackageShlibs.cmake
     "file(WRITE \"\${CPACK_TEMPORARY_DIRECTORY}/debian/shlibs.local\" \"${lp_uno_shlibs}\")\n")
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/PackageStrip.cmake ${CMAKE_BINARY_DIR}/PackageShlibs.cmake)
# Packaged folders are 0755 whatever the umask of the machine building them.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${LP_DEB_REVISION})
set(CPACK_DEBIAN_PACKAGE_SECTION text)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${LP_HOMEPAGE}")
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "make word-processing documents smaller in batches")
# The synopsis line comes from the summary; this is the extended description.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Leafpress Compactor re-inserts every picture of a .docx, .docm or .doc
document that is shown smaller than its full size at the size it is shown,
and saves the result under the same name in a target folder. A result that
is not smaller is replaced by the source's bytes, so no document grows.
It works on whole folder trees with several workers, from its window or
unattended from a batch project. Legacy .doc documents need LibreOffice.")

# The libraries the program and its module link come from dpkg-shlibdeps but for
# the office's (see PackageShlibs above); the plugins Qt loads at run time do not
# show there. The window's pictures are SVG; TIFF and
# WebP pictures in documents need the extra image plugins; links and error
# reports open through xdg-open; .doc documents go through LibreOffice.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "libreoffice-writer | libreoffice-writer-nogui, qt6-image-formats-plugins, xdg-utils")

include(CPack)
