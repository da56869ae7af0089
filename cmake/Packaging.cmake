# Everything the desktop needs besides the executable, and the Debian package that carries it all.
set(QB_APP_ID com.kestrun.quobblefin)
set(QB_RESOURCES ${PROJECT_SOURCE_DIR}/resources)

# The fixed-size icons are rendered from the one SVG at build time, so the drawing has a single source.
add_executable(qb_render_icon ${PROJECT_SOURCE_DIR}/tools/render-icon.cpp)
target_link_libraries(qb_render_icon PRIVATE Qt6::Gui)
qb_warnings(qb_render_icon)
qb_qt_defaults(qb_render_icon)

set(QB_ICON_SVG ${QB_RESOURCES}/icons/${QB_APP_ID}.svg)
set(QB_ICON_PNGS)
foreach(size 16 32 48 128 256)
  set(png ${CMAKE_BINARY_DIR}/icons/${size}x${size}/${QB_APP_ID}.png)
  add_custom_command(OUTPUT ${png}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/icons/${size}x${size}
    # In sanitizer builds the tool is instrumented too; Qt's plugin caches must not fail the build as leaks.
    COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0 TSAN_OPTIONS=exitcode=0
            $<TARGET_FILE:qb_render_icon> ${QB_ICON_SVG} ${png} ${size}
    DEPENDS qb_render_icon ${QB_ICON_SVG}
    COMMENT "Rendering the ${size} px icon")
  list(APPEND QB_ICON_PNGS ${png})
  install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
add_custom_target(qb_icons ALL DEPENDS ${QB_ICON_PNGS})

install(FILES ${QB_ICON_SVG} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${QB_RESOURCES}/${QB_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${QB_RESOURCES}/${QB_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
# Man pages are installed compressed, as man-db and Debian expect them.
set(QB_MAN_PAGE ${CMAKE_BINARY_DIR}/man/quobblefin.1.gz)
add_custom_command(OUTPUT ${QB_MAN_PAGE}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
  COMMAND gzip -9 -n -c ${QB_RESOURCES}/quobblefin.1 > ${QB_MAN_PAGE}
  DEPENDS ${QB_RESOURCES}/quobblefin.1
  COMMENT "Compressing the man page")
add_custom_target(qb_man_page ALL DEPENDS ${QB_MAN_PAGE})
install(FILES ${QB_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# Dolphin reads service menus from here; Nautilus runs only the scripts in the user's own folder, so its script
# is shipped for the user to copy (see the man page).
install(FILES ${QB_RESOURCES}/file-managers/${QB_APP_ID}.servicemenu.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/kio/servicemenus RENAME ${QB_APP_ID}.desktop)
install(PROGRAMS "${QB_RESOURCES}/file-managers/Send with Quobblefin"
        DESTINATION ${CMAKE_INSTALL_DATADIR}/quobblefin/nautilus-scripts)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quobblefin)
set(CPACK_PACKAGE_VENDOR "Kestrun")
set(CPACK_PACKAGE_CONTACT "Kestrun <quobblefin@kestrun.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION
    "Quobblefin sends files and folders straight from one device to another on the same local network, with no
server in between. It lives in the system tray with one floating panel; devices find each other by DNS-SD and
send over TLS 1.3 pinned to the receiver's key.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the program links, with their versions, as dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The SVG icons are drawn by this plugin package, which nothing links.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6")
# Without a running mDNS responder devices are reachable only by address.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "avahi-daemon")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://kestrun.com/quobblefin")
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)
