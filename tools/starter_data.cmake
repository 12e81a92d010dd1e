# The starter data set: dvgen writes every track, surface, shape, texture and the marker
# archive into the build directory, the game's data directory. Its last file, dvgen.list
# (the names and sizes it wrote), is the stamp: the set is remade when dvgen changes.
# The points series of the starter tracks are copied unchanged into series/, and the
# robots' learnt lines (made by dvlearn) into their tracks' directories.
file(GLOB DV_STARTER_SERIES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/series/*.series)
file(GLOB_RECURSE DV_STARTER_LINES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/lines/*/lines_*)
set(DV_STARTER_STAMP ${CMAKE_BINARY_DIR}/dvgen.list)
add_custom_command(OUTPUT ${DV_STARTER_STAMP}
  COMMAND dvgen ${CMAKE_BINARY_DIR}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/series
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${DV_STARTER_SERIES} ${CMAKE_BINARY_DIR}/series/
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${CMAKE_SOURCE_DIR}/tools/lines ${CMAKE_BINARY_DIR}
  DEPENDS dvgen ${DV_STARTER_SERIES} ${DV_STARTER_LINES}
  COMMENT "Generating the starter data set"
  VERBATIM)
add_custom_target(starter_data ALL DEPENDS ${DV_STARTER_STAMP})
