# Install rules: the program, its desktop integration (entry, icons, AppStream
# metainfo, MIME type of the batch project), the manual page and the manual.
# Sources are under data/; what is made from them goes to <build>/share first.
# The Debian package (Package.cmake) is made from these same rules.
include(GNUInstallDirs)

# The desktop id, also the name of the icon, the metainfo and the MIME package.
set(LP_APP_ID com.example.leafpress.Compactor)
set(LP_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/leafpress)
# Placeholder of the product's web site, for the metainfo and the package;
# the screenshots of a release are published under it.
set(LP_HOMEPAGE https://example.com/)
set(lp_data ${CMAKE_SOURCE_DIR}/data)
set(lp_share ${CMAKE_BINARY_DIR}/share)

# The version the program prints: the project's version, which the
# generated header app/znVersion.h gives the program too.
set(LP_VERSION ${PROJECT_VERSION})
# Date of the release LP_VERSION names; change both together. The man page,
# the metainfo and the package's changelog carry it.
set(LP_RELEASE_DATE 2026-12-08)
set(LP_RELEASE_DATE_RFC2822 "Tue, 08 Dec 2026 12:00:00 +0000")
# The package's own revision of that release, raised with every change of
# the packaging alone; its changelog entry (data/debian/changelog.in) is
# dated LP_DEB_DATE_RFC2822.
set(LP_DEB_REVISION 2)
set(LP_DEB_DATE_RFC2822 "Wed, 09 Dec 2026 12:00:00 +0000")
set(LP_DEB_VERSION ${LP_VERSION}-${LP_DEB_REVISION})

# Where the help action looks for the manual when nothing is beside the
# program: the documentation folder, relative to the program's folder.
file(RELATIVE_PATH lp_doc_from_bin /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${LP_DOC_DIR})
target_compile_definitions(lp_info PRIVATE LP_INSTALLED_DOC_DIR="${lp_doc_from_bin}")

# The program's modules (the LibreOffice bridge, leafpress-lodoc) are private to it, in
# a folder of its own under the library folder; the program finds them there relative
# to its own folder when they are not beside it. Not right in lib/leafpress: for a
# library there the package would run ldconfig, which is wrong for a private one.
set(LP_MODULE_DIR ${CMAKE_INSTALL_LIBDIR}/leafpress/modules)
file(RELATIVE_PATH lp_modules_from_bin /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${LP_MODULE_DIR})
target_compile_definitions(lp_platform PRIVATE LP_INSTALLED_MODULE_DIR="${lp_modules_from_bin}")

find_program(LP_GZIP gzip REQUIRED)

# gzip -9n: no name or time stamp inside, so the same source gives the same bytes.
function(lp_gzip source output)
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${LP_GZIP} -9nc ${source} > ${output}
    DEPENDS ${source}
    VERBATIM)
endfunction()

configure_file(${lp_data}/leafpress.1.in ${lp_share}/man/leafpress.1 @ONLY)
lp_gzip(${lp_share}/man/leafpress.1 ${lp_share}/man/leafpress.1.gz)
configure_file(${lp_data}/${LP_APP_ID}.metainfo.xml.in ${lp_share}/metainfo/${LP_APP_ID}.metainfo.xml @ONLY)
configure_file(${lp_data}/debian/changelog.in ${lp_share}/doc/changelog.Debian @ONLY)
lp_gzip(${lp_share}/doc/changelog.Debian ${lp_share}/doc/changelog.Debian.gz)

# PNG icons drawn from the product picture the window uses.
set(lp_icon_svg ${CMAKE_SOURCE_DIR}/src/ui/images/product.svg)
set(lp_icon_sizes 16 24 32 48 64 128 256)
set(lp_icons)
foreach(size ${lp_icon_sizes})
  list(APPEND lp_icons ${lp_share}/icons/hicolor/${size}x${size}/apps/${LP_APP_ID}.png)
endforeach()
add_custom_command(
  OUTPUT ${lp_icons}
  COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
          $<TARGET_FILE:lp_iconbuild> ${lp_icon_svg} ${lp_share}/icons/hicolor ${LP_APP_ID} ${lp_icon_sizes}
  DEPENDS lp_iconbuild ${lp_icon_svg}
  COMMENT "Rendering the icons"
  VERBATIM)

# The main window with sample rows, the picture the metainfo's screenshot
# entry shows, taken by the screenshot tool.
set(lp_screenshots ${lp_share}/leafpress/screenshots)
add_custom_command(
  OUTPUT ${lp_screenshots}/main.png
  BYPRODUCTS ${lp_screenshots}/config.png ${lp_screenshots}/about.png
  COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen $<TARGET_FILE:lp_screenshot> ${lp_screenshots}
  DEPENDS lp_screenshot
  COMMENT "Taking the window's screenshot"
  VERBATIM)

add_custom_target(lp_install_data ALL DEPENDS
  ${lp_icons} ${lp_share}/man/leafpress.1.gz ${lp_share}/doc/changelog.Debian.gz ${lp_screenshots}/main.png)
# Everything the install rules take from the build, and nothing else: the
# package's build makes only this.
add_custom_target(lp_package_files)
add_dependencies(lp_package_files leafpress lp_lodoc_module lp_help lp_install_data)

install(TARGETS leafpress RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# A module is a library, read and mapped but never run: no execute bits.
install(TARGETS lp_lodoc_module LIBRARY DESTINATION ${LP_MODULE_DIR}
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
# The plain strip of the package (CPACK_STRIP_FILES) keeps the compiler's .comment
# section, one version string per object file, which Debian's tools remove.
find_program(LP_OBJCOPY NAMES ${CMAKE_OBJCOPY} objcopy REQUIRED)
install(CODE "execute_process(COMMAND \"${LP_OBJCOPY}\" --remove-section=.comment
                \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${LP_MODULE_DIR}/$<TARGET_FILE_NAME:lp_lodoc_module>\"
                COMMAND_ERROR_IS_FATAL ANY)")
install(FILES ${lp_data}/${LP_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
install(FILES ${lp_share}/metainfo/${LP_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/metainfo)
install(FILES ${lp_data}/${LP_APP_ID}.mime.xml DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/mime/packages
        RENAME ${LP_APP_ID}.xml)
install(FILES ${lp_icon_svg} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/scalable/apps
        RENAME ${LP_APP_ID}.svg)
foreach(size ${lp_icon_sizes})
  install(FILES ${lp_share}/icons/hicolor/${size}x${size}/apps/${LP_APP_ID}.png
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
install(FILES ${lp_share}/man/leafpress.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${lp_screenshots}/main.png DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/leafpress/screenshots)
# The help action finds the manual here when nothing is beside the program.
install(FILES ${CMAKE_BINARY_DIR}/bin/leafpress.pdf
              ${lp_data}/debian/copyright
              ${lp_share}/doc/changelog.Debian.gz
        DESTINATION ${LP_DOC_DIR})

# The manual's entry in the system's documentation index (doc-base).
install(FILES ${lp_data}/debian/doc-base DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc-base RENAME leafpress)

# Why the package's lintian report is as it is; Debian's tools read it here.
# The overrides name the module by its installed path.
configure_file(${lp_data}/debian/lintian-overrides ${lp_share}/lintian/leafpress @ONLY)
install(FILES ${lp_share}/lintian/leafpress DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides)

include(${CMAKE_CURRENT_LIST_DIR}/Package.cmake)
