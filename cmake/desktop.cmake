# The program's pictures and help page in the program folder, installation
# as a desktop program, and the Debian package.

# ---- Pictures: the About box's demo frames (GIF) and the desktop icons ----
add_executable(velmora_draw_pictures ${CMAKE_SOURCE_DIR}/tools/draw_pictures.cpp)
target_link_libraries(velmora_draw_pictures PRIVATE velmora_ui)
set_target_properties(velmora_draw_pictures PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools)
set(VELMORA_ICON_DIR ${CMAKE_BINARY_DIR}/icons)
set(VELMORA_DEMO_FRAMES)
foreach(i RANGE 5)
  list(APPEND VELMORA_DEMO_FRAMES ${VELMORA_BIN_DIR}/${i}.gif)
endforeach()
add_custom_command(
  OUTPUT ${VELMORA_DEMO_FRAMES} ${VELMORA_ICON_DIR}/icon-48.png ${VELMORA_ICON_DIR}/icon-256.png
  COMMAND ${CMAKE_SOURCE_DIR}/tools/make-pictures $<TARGET_FILE:velmora_draw_pictures> ${VELMORA_BIN_DIR}
          ${VELMORA_ICON_DIR}
  DEPENDS velmora_draw_pictures ${CMAKE_SOURCE_DIR}/tools/make-pictures
  COMMENT "Drawing the demo pictures and icons")

# ---- The FAQ page, beside the executable ----
set(VELMORA_FAQ "Velmora FAQ.htm")
add_custom_command(
  OUTPUT "${VELMORA_BIN_DIR}/${VELMORA_FAQ}"
  COMMAND ${CMAKE_COMMAND} -E copy "${CMAKE_SOURCE_DIR}/data/${VELMORA_FAQ}" "${VELMORA_BIN_DIR}/${VELMORA_FAQ}"
  DEPENDS "${CMAKE_SOURCE_DIR}/data/${VELMORA_FAQ}"
  COMMENT "Copying the FAQ page")

add_custom_target(pictures ALL
  DEPENDS ${VELMORA_DEMO_FRAMES} ${VELMORA_ICON_DIR}/icon-48.png "${VELMORA_BIN_DIR}/${VELMORA_FAQ}")

# ---- Installation ----
# <prefix>/lib/velmora is the program folder: the executable and every file it
# reads beside it.  <prefix>/bin/velmora is a link to the executable, which
# finds its folder through /proc/self/exe.
set(VELMORA_PROGRAM_DIR lib/velmora)
install(TARGETS velmora RUNTIME DESTINATION ${VELMORA_PROGRAM_DIR})
install(FILES ${VELMORA_DEMO_FRAMES} "${VELMORA_BIN_DIR}/${VELMORA_FAQ}" ${VELMORA_BIN_DIR}/demo.mp4
        DESTINATION ${VELMORA_PROGRAM_DIR})
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/launcher)
file(CREATE_LINK ../${VELMORA_PROGRAM_DIR}/velmora ${CMAKE_BINARY_DIR}/launcher/velmora SYMBOLIC)
install(FILES ${CMAKE_BINARY_DIR}/launcher/velmora DESTINATION bin)
install(FILES ${CMAKE_SOURCE_DIR}/data/velmora.desktop DESTINATION share/applications)
foreach(size 48 256)
  install(FILES ${VELMORA_ICON_DIR}/icon-${size}.png DESTINATION share/icons/hicolor/${size}x${size}/apps
          RENAME velmora.png)
endforeach()

# ---- Debian package: cpack -G DEB (make deb) ----
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velmora)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Velmora developers <velmora@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Video player that steps back through the last 50 frames")
set(CPACK_PACKAGE_DESCRIPTION
    "Velmora plays a video and keeps its last 50 pictures; hold the review button\nor F5/F6 to step back and forth through them, with the age of each frame.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
# dpkg-shlibdeps finds the libraries the program links (Qt 6 widgets, libmpv,
# FFmpeg's libavcodec, libavformat, libavdevice and libswscale: libavcodec
# brings the H.264 encoder that compresses a camera's pictures);
# what they do not name is Qt's platform plugins (the window on X11 and
# Wayland) and the opener of the FAQ page.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, qt6-wayland")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
include(CPack)

# ---- Tests of the installed program ----
find_program(DESKTOP_FILE_VALIDATE desktop-file-validate REQUIRED)
add_dependencies(velmora_ui_tests pictures)
add_test(NAME install.startsFromPrefixAndDesktopFileValidates
         COMMAND ${CMAKE_SOURCE_DIR}/tests/install-check ${CMAKE_BINARY_DIR})
set_tests_properties(install.startsFromPrefixAndDesktopFileValidates PROPERTIES TIMEOUT 120)
