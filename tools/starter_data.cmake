# The starter data set: dvgen writes every track, surface, shape, texture and the marker
# archive into the build directory, the game's data directory. Its last file, dvgen.list
# (the names and sizes it wrote), is the stamp: the set is remade when dvgen changes.
# The points series of the starter tracks are copied unchanged into series/.
file(GLOB DV_STARTER_SERIES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/series/*.series)
set(DV_STARTER_STAMP ${CMAKE_BINARY_DIR}/dvgen.list)
add_custom_command(OUTPUT ${DV_STARTER_STAMP}
  COMMAND dvgen ${CMAKE_BINARY_DIR}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/series
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${DV_STARTER_SERIES} ${CMAKE_BINARY_DIR}/series/
  DEPENDS dvgen ${DV_STARTER_SERIES}
  COMMENT "Generating the starter data set"
  VERBATIM)
add_custom_target(starter_data ALL DEPENDS ${DV_STARTER_STAMP})
