# The program's rooms, each a library that sees only its own headers and those of the rooms it
# links. Headers are included by their room's name ("fs/paths.h"), so a room's include path is a
# folder of the build holding one link per room it may see, never the source tree's top: an
# include from a lower room to a higher one ("package/install.h" in fs/) then finds no file.
#
#   zarpo_room_headers(TARGET SCOPE ROOM)  TARGET sees ROOM's headers; SCOPE as for
#                                           target_include_directories (PUBLIC, INTERFACE)
function(zarpo_room_headers target scope room)
  set(view "${PROJECT_BINARY_DIR}/rooms/${room}")
  if(NOT EXISTS "${view}/${room}")
    file(MAKE_DIRECTORY "${view}")
    file(CREATE_LINK "${PROJECT_SOURCE_DIR}/${room}" "${view}/${room}" SYMBOLIC)
  endif()
  target_include_directories(${target} ${scope} "${view}")
endfunction()
