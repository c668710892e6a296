# Desktop integration and the Debian package: the menu entry, the icon in the hicolor theme
# (the SVG and PNGs rendered from it at build time), the AppStream metadata, and CPack's DEB
# generator. Everything here belongs to the Qt program, so a build without it has nothing to
# package.
if(NOT TESSALY_GUI)
  return()
endif()

include(GNUInstallDirs)

set(TESSALY_APP_ID com.orvane.Tessaly)
set(TESSALY_DATA_DIR ${PROJECT_SOURCE_DIR}/data)
# The one source of the program's icon, the window's own; the theme's PNGs are rendered from it.
set(TESSALY_ICON_SVG ${PROJECT_SOURCE_DIR}/src/app/qt/resources/tessaly.svg)
set(TESSALY_ICON_SIZES 16 22 24 32 48 64 128 256)

# Installed directories are 0755 whatever the umask of the machine that builds.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

find_program(TESSALY_RSVG_CONVERT rsvg-convert REQUIRED)

set(tessaly_icon_pngs "")
foreach(size IN LISTS TESSALY_ICON_SIZES)
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/data/icons/${size}x${size})
  set(png ${dir}/${TESSALY_APP_ID}.png)
  add_custom_command(
    OUTPUT ${png}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    COMMAND ${TESSALY_RSVG_CONVERT} --width=${size} --height=${size} --format=png
            --output=${png} ${TESSALY_ICON_SVG}
    DEPENDS ${TESSALY_ICON_SVG}
    COMMENT "Rendering the ${size}x${size} icon"
    VERBATIM)
  list(APPEND tessaly_icon_pngs ${png})
  install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
add_custom_target(tessaly_icons ALL DEPENDS ${tessaly_icon_pngs})

install(FILES ${TESSALY_ICON_SVG} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME ${TESSALY_APP_ID}.svg)
install(FILES ${TESSALY_DATA_DIR}/${TESSALY_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
# The metadata names the release: the project's version, written only in project().
configure_file(${TESSALY_DATA_DIR}/${TESSALY_APP_ID}.metainfo.xml.in
               ${CMAKE_CURRENT_BINARY_DIR}/data/${TESSALY_APP_ID}.metainfo.xml @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/data/${TESSALY_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# The Debian package. Its Depends come from the libraries the binary links (dpkg-shlibdeps).
set(TESSALY_PACKAGE_MAINTAINER "Orvane <tessaly@orvane.invalid>"
    CACHE STRING "Maintainer field of the Debian package")

# What Debian's tools expect beside the program: the copyright file, a changelog and a
# manual page, the last two made from the version and release date of project() and
# compressed as Debian compresses them (gzip -9n: no name, no time stamp).
find_program(TESSALY_GZIP gzip REQUIRED)
find_program(TESSALY_DATE date REQUIRED)
execute_process(COMMAND ${TESSALY_DATE} -u -R -d "${TESSALY_RELEASE_DATE}"
                OUTPUT_VARIABLE TESSALY_RELEASE_DATE_RFC2822 OUTPUT_STRIP_TRAILING_WHITESPACE
                COMMAND_ERROR_IS_FATAL ANY)
set(tessaly_doc_dir ${CMAKE_CURRENT_BINARY_DIR}/data/doc)
configure_file(${TESSALY_DATA_DIR}/debian/changelog.in ${tessaly_doc_dir}/changelog @ONLY)
configure_file(${TESSALY_DATA_DIR}/tessaly.1.in ${tessaly_doc_dir}/tessaly.1 @ONLY)
foreach(doc changelog tessaly.1)
  add_custom_command(
    OUTPUT ${tessaly_doc_dir}/${doc}.gz
    COMMAND ${TESSALY_GZIP} -9nc ${tessaly_doc_dir}/${doc} > ${tessaly_doc_dir}/${doc}.gz
    DEPENDS ${tessaly_doc_dir}/${doc}
    COMMENT "Compressing ${doc}")
endforeach()
add_custom_target(tessaly_docs ALL
                  DEPENDS ${tessaly_doc_dir}/changelog.gz ${tessaly_doc_dir}/tessaly.1.gz)
install(FILES ${TESSALY_DATA_DIR}/debian/copyright ${tessaly_doc_dir}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${tessaly_doc_dir}/tessaly.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tessaly)
set(CPACK_PACKAGE_VENDOR Orvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "WHOIS and DNS delegation trace lookups for one domain")
set(CPACK_PACKAGE_DESCRIPTION
    "Tessaly is a small single-window desktop tool that looks up one domain name\n"
    "at a time. whois asks the WHOIS server of the domain's top-level domain on\n"
    "TCP port 43 and shows the answer as it arrives, with two web WHOIS services\n"
    "as a fallback. digtrace shows the DNS delegation trace of the domain, from\n"
    "the root servers down to the servers that answer for it, taken from public\n"
    "web trace services or, when they all fail, walked from the root itself.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TESSALY_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window's text is Chinese; a desktop without a CJK font shows it as boxes.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wqy-microhei | fonts-noto-cjk | fonts-wqy-zenhei")
# The root hints the native trace falls back to; a copy is built in.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "dns-root-data")
set(CPACK_SOURCE_GENERATOR "")

include(CPack)
