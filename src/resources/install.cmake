# The shipped data of an installed copy, under <datadir>/tallow: what the build lays out beside the
# executable, minus what the user owns (Config.ini is installed as the defaults a first start copies).
include(GNUInstallDirs)
set(data ${CMAKE_INSTALL_DATADIR}/tallow)
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/Config.ini DESTINATION ${data})
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/skin/style.css DESTINATION ${data}/skin)
list(TRANSFORM art_images PREPEND ${ART_DIR}/skin/images/ OUTPUT_VARIABLE images)
install(FILES ${images} DESTINATION ${data}/skin/images)
list(TRANSFORM art_buttons PREPEND ${ART_DIR}/Skin/buttons/ OUTPUT_VARIABLE buttons)
install(FILES ${buttons} DESTINATION ${data}/Skin/buttons)
set(catalogues ${appdir_outputs})
list(FILTER catalogues INCLUDE REGEX "\\.qm$")
install(FILES ${catalogues} DESTINATION ${data}/language)
foreach(n ${art_icon_sizes})
  install(FILES ${ART_DIR}/icons/hicolor/${n}x${n}/apps/${TALLOW_APP_ID}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${n}x${n}/apps)
endforeach()
