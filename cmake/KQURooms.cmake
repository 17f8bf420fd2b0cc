# The library's rooms (kqutility/<room>/) and the layering between them.
#
# Each room is an OBJECT library, kqu_room_<room>, compiled against an include root that
# holds only that room and the rooms it declares below it: ${KQU_ROOMS_DIR}/<room>/ with a
# symbolic link kqutility/<room> -> the room's source folder. A room compiles with its own
# root and the roots of the rooms below it, so `#include "kqutility/<room>/X.h"` of a room
# that is not declared below fails to compile ("No such file"). The repository
# root is never on a room's include path.
#
#   kqu_add_room(<room> [DEPS <lower rooms>...] [LIBS <third-party targets>...]
#                [INTERNAL <headers>...] [SOURCES <extra sources>...])
#
# DEPS are the rooms this one may include directly (each brings the rooms it declares;
# naming them all, as CMakeLists.txt does, keeps the graph readable in one place). LIBS
# are the third-party targets the room's own code uses; libkqutility links all of them. INTERNAL names the room's headers that exist for the library's own
# use: they are not installed, and no installed header may include them.
#
# kqu_check_rooms() (after the last kqu_add_room) fails configuration when a folder of
# kqutility/ is not declared as a room, or an installed header includes an internal one.

set(KQU_ROOMS_DIR ${PROJECT_BINARY_DIR}/rooms)
set_property(GLOBAL PROPERTY KQU_ROOMS "")
set_property(GLOBAL PROPERTY KQU_INTERNAL_HEADERS "")

function(kqu_add_room room)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "" "" "DEPS;LIBS;INTERNAL;SOURCES")
  set(dir ${PROJECT_SOURCE_DIR}/kqutility/${room})
  if(NOT IS_DIRECTORY ${dir})
    message(FATAL_ERROR "kqu_add_room(${room}): there is no folder kqutility/${room}")
  endif()
  get_property(declared GLOBAL PROPERTY KQU_ROOMS)
  foreach(dep ${ARG_DEPS})
    if(NOT dep IN_LIST declared)
      message(FATAL_ERROR "kqu_add_room(${room}): room '${dep}' must be declared before ${room} "
                          "(a room may only depend on rooms declared above it in CMakeLists.txt)")
    endif()
  endforeach()

  # The include root that holds this room alone.
  set(root ${KQU_ROOMS_DIR}/${room})
  file(MAKE_DIRECTORY ${root}/kqutility)
  file(CREATE_LINK ${dir} ${root}/kqutility/${room} SYMBOLIC)

  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${dir}/*.cpp)
  set(target kqu_room_${room})
  add_library(${target} OBJECT ${sources} ${ARG_SOURCES})
  if(NOT sources AND NOT ARG_SOURCES)
    # A room of headers only still needs one translation unit to be an OBJECT library.
    set(stub ${PROJECT_BINARY_DIR}/generated/kqu_room_${room}_stub.cpp)
    file(CONFIGURE OUTPUT ${stub} CONTENT "// The ${room} room has headers only.\n")
    target_sources(${target} PRIVATE ${stub})
  endif()
  # The include roots and libraries of every room below are named directly instead of
  # linking the lower rooms' targets: no room waits for another to compile, and the
  # objects of every room are collected once into libkqutility.
  set(roots ${root})
  set(libs ${ARG_LIBS})
  foreach(dep ${ARG_DEPS})
    get_property(dep_roots GLOBAL PROPERTY KQU_ROOM_ROOTS_${dep})
    get_property(dep_libs GLOBAL PROPERTY KQU_ROOM_LIBS_${dep})
    list(APPEND roots ${dep_roots})
    list(APPEND libs ${dep_libs})
  endforeach()
  list(REMOVE_DUPLICATES roots)
  list(REMOVE_DUPLICATES libs)
  set_property(GLOBAL PROPERTY KQU_ROOM_ROOTS_${room} ${roots})
  set_property(GLOBAL PROPERTY KQU_ROOM_LIBS_${room} ${libs})
  target_include_directories(${target} PRIVATE ${roots})
  target_link_libraries(${target} PRIVATE ${libs})
  target_compile_features(${target} PRIVATE cxx_std_20)

  set_property(GLOBAL APPEND PROPERTY KQU_ROOMS ${room})
  set_property(GLOBAL PROPERTY KQU_ROOM_DEPS_${room} ${ARG_DEPS})
  foreach(h ${ARG_INTERNAL})
    if(NOT EXISTS ${dir}/${h})
      message(FATAL_ERROR "kqu_add_room(${room}): internal header ${h} does not exist")
    endif()
    set_property(GLOBAL APPEND PROPERTY KQU_INTERNAL_HEADERS kqutility/${room}/${h})
  endforeach()
endfunction()

# Every room a room may include, itself included (the closure of its DEPS).
function(kqu_room_closure room out)
  set(result ${room})
  get_property(deps GLOBAL PROPERTY KQU_ROOM_DEPS_${room})
  foreach(dep ${deps})
    kqu_room_closure(${dep} sub)
    list(APPEND result ${sub})
  endforeach()
  list(REMOVE_DUPLICATES result)
  set(${out} ${result} PARENT_SCOPE)
endfunction()

function(kqu_check_rooms)
  get_property(rooms GLOBAL PROPERTY KQU_ROOMS)
  get_property(internal GLOBAL PROPERTY KQU_INTERNAL_HEADERS)
  file(GLOB entries LIST_DIRECTORIES true RELATIVE ${PROJECT_SOURCE_DIR}/kqutility
       CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/kqutility/*)
  foreach(entry ${entries})
    if(IS_DIRECTORY ${PROJECT_SOURCE_DIR}/kqutility/${entry} AND NOT entry IN_LIST rooms)
      message(FATAL_ERROR "kqutility/${entry}/ is not a declared room: add "
                          "kqu_add_room(${entry} DEPS <rooms below it>) to CMakeLists.txt")
    endif()
  endforeach()
  # No installed header may include an internal one, or a consumer could not compile it.
  set(public "")
  foreach(room ${rooms})
    file(GLOB_RECURSE headers RELATIVE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/kqutility/${room}/*.h)
    foreach(h ${headers})
      if(h IN_LIST internal)
        continue()
      endif()
      list(APPEND public ${h})
      file(STRINGS ${PROJECT_SOURCE_DIR}/${h} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
      foreach(line ${includes})
        string(REGEX REPLACE "^[^\"]*\"([^\"]*)\".*$" "\\1" included "${line}")
        if(included IN_LIST internal)
          message(FATAL_ERROR "The installed header ${h} includes ${included}, which is internal "
                              "(not installed): move the include into the .cpp, or make ${included} public")
        endif()
      endforeach()
    endforeach()
  endforeach()
  set_property(GLOBAL PROPERTY KQU_PUBLIC_HEADERS ${public})
  set(all_libs "")
  foreach(room ${rooms})
    get_property(libs GLOBAL PROPERTY KQU_ROOM_LIBS_${room})
    list(APPEND all_libs ${libs})
  endforeach()
  list(REMOVE_DUPLICATES all_libs)
  set_property(GLOBAL PROPERTY KQU_ROOM_LIBS ${all_libs})
endfunction()

# A test that proves the layering holds: for every room and every room it may not include,
# one probe source includes a header of the forbidden room, compiled with exactly the
# including room's include roots, and must fail with "not found". The probes form one
# target built on demand (EXCLUDE_FROM_ALL) by the test, keeping going past failures.
function(kqu_add_layering_test)
  get_property(rooms GLOBAL PROPERTY KQU_ROOMS)
  set(probe_dir ${PROJECT_BINARY_DIR}/generated/layering)
  set(expect "")
  set(sources "")
  foreach(room ${rooms})
    kqu_room_closure(${room} allowed)
    get_property(roots GLOBAL PROPERTY KQU_ROOM_ROOTS_${room})
    foreach(other ${rooms})
      if(other IN_LIST allowed)
        continue()
      endif()
      file(GLOB headers RELATIVE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/kqutility/${other}/*.h)
      if(NOT headers)
        continue()
      endif()
      list(GET headers 0 header)
      set(src ${probe_dir}/probe_${room}_includes_${other}.cpp)
      file(CONFIGURE OUTPUT ${src} CONTENT "#include \"${header}\"\n")
      set_source_files_properties(${src} PROPERTIES INCLUDE_DIRECTORIES "${roots}")
      list(APPEND sources ${src})
      list(APPEND expect "probe_${room}_includes_${other}.cpp|${header}")
    endforeach()
  endforeach()
  if(NOT sources)
    return()
  endif()
  add_library(kqu_layering_probes OBJECT EXCLUDE_FROM_ALL ${sources})
  set_target_properties(kqu_layering_probes PROPERTIES CXX_COMPILER_LAUNCHER "")
  if(CMAKE_GENERATOR MATCHES "Ninja")
    set(keep_going -k 0)
  else()
    set(keep_going -k)
  endif()
  string(REPLACE ";" "," expect_arg "${expect}")
  add_test(NAME layering_upward_includes_fail
    COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${PROJECT_BINARY_DIR} -DTARGETS=kqu_layering_probes
            "-DEXPECT=${expect_arg}" "-DKEEP_GOING=${keep_going}"
            -P ${PROJECT_SOURCE_DIR}/cmake/CheckLayering.cmake)
  set_tests_properties(layering_upward_includes_fail PROPERTIES LABELS build)
endfunction()
