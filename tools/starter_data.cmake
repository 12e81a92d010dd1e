# The starter data set: dvgen writes every track, surface, shape, texture and the marker
# archive into the build directory, the game's data directory. Its last file, dvgen.list
# (the names and sizes it wrote), is the stamp: the set is remade when dvgen changes.
set(DV_STARTER_STAMP ${CMAKE_BINARY_DIR}/dvgen.list)
add_custom_command(OUTPUT ${DV_STARTER_STAMP}
  COMMAND dvgen ${CMAKE_BINARY_DIR}
  DEPENDS dvgen
  COMMENT "Generating the starter data set"
  VERBATIM)
add_custom_target(starter_data ALL DEPENDS ${DV_STARTER_STAMP})
