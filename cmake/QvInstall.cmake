# Installing the programs: the application folder (build/bin: every program,
# the libraries, the engine plugin and the skin) is installed whole into
# lib/qvsearch/, so that a program added to it comes along without a rule of
# its own. The programs find each other, the plugin and the skin beside
# themselves, and their libraries through RPATH $ORIGIN.
#
# With QV_INSTALL_DESKTOP_DATA=ON (package builds) the desktop entry, the
# AppStream metadata, the icons (made from one SVG by tools/make-icons, which
# needs rsvg-convert), the manual pages (made from scdoc sources) and the
# shell completions are built and installed as well.

set(QV_INSTALL_APP_DIR lib/qvsearch CACHE STRING "Application folder, relative to the install prefix")
option(QV_INSTALL_DESKTOP_DATA "Build and install the desktop entry, icons, manual pages and completions" OFF)
set(QV_APP_ID org.qvsearch.qvsearch)

install(DIRECTORY ${QV_APP_DIR}/ DESTINATION ${QV_INSTALL_APP_DIR} USE_SOURCE_PERMISSIONS
  # What running a program from the build folder leaves beside it.
  PATTERN data EXCLUDE
  PATTERN qvConfig.ini EXCLUDE
  PATTERN "*.update" EXCLUDE)

# The systemd user unit of the index service (qvsearch --serve).
set(QV_UNIT_EXEC ${CMAKE_INSTALL_PREFIX}/${QV_INSTALL_APP_DIR}/qvsearch)
configure_file(${CMAKE_SOURCE_DIR}/service/qvsearch.service.in ${CMAKE_BINARY_DIR}/qvsearch.service @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/qvsearch.service DESTINATION lib/systemd/user)

if(QV_INSTALL_DESKTOP_DATA)
  find_program(QV_SCDOC scdoc REQUIRED)
  find_program(QV_RSVG_CONVERT rsvg-convert REQUIRED)
  set(desktop ${CMAKE_SOURCE_DIR}/packaging)
  set(out ${CMAKE_BINARY_DIR}/packaging)

  set(QV_ICON_SIZES 16 22 24 32 48 64 128 256 512)
  set(icons)
  foreach(size ${QV_ICON_SIZES})
    list(APPEND icons ${out}/icons/${size}x${size}/apps/qvsearch.png)
  endforeach()
  add_custom_command(OUTPUT ${icons}
    COMMAND ${CMAKE_SOURCE_DIR}/tools/make-icons ${desktop}/qvsearch.svg ${out}/icons ${QV_ICON_SIZES}
    DEPENDS ${desktop}/qvsearch.svg ${CMAKE_SOURCE_DIR}/tools/make-icons
    COMMENT "Making the icons")

  set(manuals)
  foreach(page qvsearch.1 qvSearchApp.1)
    add_custom_command(OUTPUT ${out}/man/${page}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${out}/man
      COMMAND ${QV_SCDOC} < ${CMAKE_SOURCE_DIR}/docs/man/${page}.scd > ${out}/man/${page}
      DEPENDS ${CMAKE_SOURCE_DIR}/docs/man/${page}.scd
      COMMENT "Making the manual page ${page}")
    list(APPEND manuals ${out}/man/${page})
  endforeach()
  add_custom_target(qvDesktopData ALL DEPENDS ${icons} ${manuals})

  install(FILES ${desktop}/${QV_APP_ID}.desktop DESTINATION share/applications)
  install(FILES ${desktop}/${QV_APP_ID}.metainfo.xml DESTINATION share/metainfo)
  install(FILES ${desktop}/qvsearch.svg DESTINATION share/icons/hicolor/scalable/apps)
  install(DIRECTORY ${out}/icons/ DESTINATION share/icons/hicolor)
  install(FILES ${manuals} DESTINATION share/man/man1)
  install(FILES ${CMAKE_SOURCE_DIR}/completions/qvsearch.bash DESTINATION share/bash-completion/completions
    RENAME qvsearch)
  install(FILES ${CMAKE_SOURCE_DIR}/completions/_qvsearch DESTINATION share/zsh/vendor-completions)
  install(FILES ${CMAKE_SOURCE_DIR}/completions/qvsearch.fish DESTINATION share/fish/vendor_completions.d)
endif()
