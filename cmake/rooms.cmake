# The rooms of the tree. A room is a folder (or a few) built as one target
# that names the rooms it stands on; nothing else links or includes across
# rooms, so the targets' link graph is the architecture.
#
#   quorvel_room(NAME [FOLDERS dir...] [DEPS room...] [KIND STATIC|SHARED|EXECUTABLE]
#                [TARGET name] [EXCLUDE file...] [SOURCES file...] [GENERATED header...]
#                [POSIX_ONLY] [NO_TARGET])
#
# A room's sources are the .cc files of its folders and of their side for this
# build (FOLDER/posix/ or FOLDER/win32/), minus EXCLUDE (names in the first
# folder), plus SOURCES. Its target, quorvel_NAME unless TARGET says
# otherwise, includes from the source root and the generated folder privately
# and links its DEPS, which must be rooms declared before it: the graph has
# no cycle by construction. GENERATED names the generated headers the room
# owns. A POSIX_ONLY room is on the POSIX side: the Windows build declares it
# (the graph is the same in both builds) but makes no target of it. A
# NO_TARGET room (one of headers only, the tests, the benchmarks) is declared
# only for the include check; the tests' and benchmarks' CMakeLists make their
# targets.
#
# quorvel_check_rooms() then adds the include check to the build: every file
# of a room may include only its own room's headers and those of the rooms it
# names (cmake/check_includes.py says the rules).

set_property(GLOBAL PROPERTY QUORVEL_ROOMS "")

function(quorvel_room name)
  cmake_parse_arguments(PARSE_ARGV 1 ROOM "POSIX_ONLY;NO_TARGET" "KIND;TARGET"
                        "FOLDERS;DEPS;EXCLUDE;SOURCES;GENERATED")
  if(ROOM_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "quorvel_room(${name}): unknown arguments ${ROOM_UNPARSED_ARGUMENTS}")
  endif()
  get_property(declared GLOBAL PROPERTY QUORVEL_ROOMS)
  if(name IN_LIST declared)
    message(FATAL_ERROR "quorvel_room(${name}): declared twice")
  endif()
  foreach(dep ${ROOM_DEPS})
    if(NOT dep IN_LIST declared)
      message(FATAL_ERROR "quorvel_room(${name}): ${dep} is not a room declared before it")
    endif()
  endforeach()
  set_property(GLOBAL APPEND PROPERTY QUORVEL_ROOMS ${name})
  set_property(GLOBAL PROPERTY QUORVEL_ROOM_${name}_FOLDERS "${ROOM_FOLDERS}")
  set_property(GLOBAL PROPERTY QUORVEL_ROOM_${name}_DEPS "${ROOM_DEPS}")
  set_property(GLOBAL PROPERTY QUORVEL_ROOM_${name}_GENERATED "${ROOM_GENERATED}")
  set_property(GLOBAL PROPERTY QUORVEL_ROOM_${name}_POSIX_ONLY ${ROOM_POSIX_ONLY})
  set_property(GLOBAL PROPERTY QUORVEL_ROOM_${name}_TARGET "")
  if(ROOM_NO_TARGET OR (ROOM_POSIX_ONLY AND WIN32))
    return()
  endif()

  set(sources ${ROOM_SOURCES})
  foreach(folder ${ROOM_FOLDERS})
    file(GLOB found CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${folder}/*.cc
                                      ${CMAKE_SOURCE_DIR}/${folder}/${QUORVEL_PLATFORM}/*.cc)
    list(APPEND sources ${found})
  endforeach()
  if(ROOM_EXCLUDE)
    list(GET ROOM_FOLDERS 0 first_folder)
    list(TRANSFORM ROOM_EXCLUDE PREPEND ${CMAKE_SOURCE_DIR}/${first_folder}/)
    list(REMOVE_ITEM sources ${ROOM_EXCLUDE})
  endif()

  set(target quorvel_${name})
  if(ROOM_TARGET)
    set(target ${ROOM_TARGET})
  endif()
  if(NOT ROOM_KIND)
    set(ROOM_KIND STATIC)
  endif()
  if(ROOM_KIND STREQUAL "EXECUTABLE")
    add_executable(${target} ${sources})
  else()
    add_library(${target} ${ROOM_KIND} ${sources})
  endif()
  target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR} ${GEN_DIR})
  target_compile_options(${target} PRIVATE ${QUORVEL_WARNINGS})
  # A static room passes its rooms on to whatever links it, with their usage
  # requirements (the Windows build's definitions on the platform).
  set(link PRIVATE)
  if(ROOM_KIND STREQUAL "STATIC")
    set(link PUBLIC)
  endif()
  foreach(dep ${ROOM_DEPS})
    get_property(dep_target GLOBAL PROPERTY QUORVEL_ROOM_${dep}_TARGET)
    if(dep_target)
      target_link_libraries(${target} ${link} ${dep_target})
    endif()
  endforeach()
  # Nothing of a room compiles before its includes have been checked.
  add_dependencies(${target} quorvel_check_includes)
  set_property(GLOBAL PROPERTY QUORVEL_ROOM_${name}_TARGET ${target})
endfunction()

# The include check, a step of every build: the graph declared above written
# out for cmake/check_includes.py, which runs whenever a file of a room changes.
function(quorvel_check_rooms)
  get_property(rooms GLOBAL PROPERTY QUORVEL_ROOMS)
  set(graph "")
  set(patterns "")
  foreach(room ${rooms})
    get_property(folders GLOBAL PROPERTY QUORVEL_ROOM_${room}_FOLDERS)
    get_property(deps GLOBAL PROPERTY QUORVEL_ROOM_${room}_DEPS)
    get_property(generated GLOBAL PROPERTY QUORVEL_ROOM_${room}_GENERATED)
    get_property(posix_only GLOBAL PROPERTY QUORVEL_ROOM_${room}_POSIX_ONLY)
    set(side "")
    if(posix_only)
      set(side posix)
    endif()
    string(REPLACE ";" " " folders_text "${folders}")
    string(REPLACE ";" " " deps_text "${deps}")
    string(REPLACE ";" " " generated_text "${generated}")
    string(APPEND graph "${room}|${folders_text}|${deps_text}|${generated_text}|${side}\n")
    foreach(folder ${folders})
      list(APPEND patterns ${CMAKE_SOURCE_DIR}/${folder}/*.h ${CMAKE_SOURCE_DIR}/${folder}/*.cc)
    endforeach()
  endforeach()
  set(graph_file ${CMAKE_BINARY_DIR}/rooms.txt)
  file(GENERATE OUTPUT ${graph_file} CONTENT "${graph}")
  file(GLOB_RECURSE checked CONFIGURE_DEPENDS ${patterns})
  set(stamp ${CMAKE_BINARY_DIR}/check_includes.stamp)
  add_custom_command(
    OUTPUT ${stamp}
    COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/cmake/check_includes.py
            --root ${CMAKE_SOURCE_DIR} --rooms ${graph_file} --stamp ${stamp}
    DEPENDS ${CMAKE_SOURCE_DIR}/cmake/check_includes.py ${graph_file} ${checked}
    COMMENT "Checking every include against the rooms' dependencies")
  add_custom_target(quorvel_check_includes ALL DEPENDS ${stamp})
  if(QUORVEL_TESTS)
    # The check catches what it should, on a tree of its own.
    add_test(NAME check_includes COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/tests/check_includes_test.py
                                         ${CMAKE_SOURCE_DIR}/cmake/check_includes.py)
  endif()
endfunction()
