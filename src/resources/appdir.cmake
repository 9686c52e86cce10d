# The skin and the sample Config.ini beside the executable.

# Config.ini is copied only when the sample changes, so settings the application stored in the
# build's copy (the last tab, logo paths) survive rebuilds.
add_custom_command(OUTPUT ${TALLOW_APP_DIR}/Config.ini
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_CURRENT_SOURCE_DIR}/Config.ini ${TALLOW_APP_DIR}/Config.ini
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/Config.ini VERBATIM)
list(APPEND appdir_outputs ${TALLOW_APP_DIR}/Config.ini)

add_custom_command(OUTPUT ${TALLOW_APP_DIR}/skin/style.css
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_CURRENT_SOURCE_DIR}/skin/style.css ${TALLOW_APP_DIR}/skin/style.css
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/skin/style.css VERBATIM)
list(APPEND appdir_outputs ${TALLOW_APP_DIR}/skin/style.css)

foreach(f ${art_buttons})
  add_custom_command(OUTPUT ${TALLOW_APP_DIR}/Skin/buttons/${f}
    COMMAND ${CMAKE_COMMAND} -E copy ${ART_DIR}/Skin/buttons/${f} ${TALLOW_APP_DIR}/Skin/buttons/${f}
    DEPENDS ${ART_DIR}/Skin/buttons/${f} VERBATIM)
  list(APPEND appdir_outputs ${TALLOW_APP_DIR}/Skin/buttons/${f})
endforeach()
foreach(f ${art_images})
  add_custom_command(OUTPUT ${TALLOW_APP_DIR}/skin/images/${f}
    COMMAND ${CMAKE_COMMAND} -E copy ${ART_DIR}/skin/images/${f} ${TALLOW_APP_DIR}/skin/images/${f}
    DEPENDS ${ART_DIR}/skin/images/${f} VERBATIM)
  list(APPEND appdir_outputs ${TALLOW_APP_DIR}/skin/images/${f})
endforeach()
