# SPDX-License-Identifier: Apache-2.0
# Fails when a source of the program includes a header of a room above its
# own. Run as: cmake -DSOURCE_DIR=app -DLAYERS="modes;cli;..." -P CheckLayers.cmake
# LAYERS lists the rooms from the top down; main.cpp stands above them all.
cmake_minimum_required(VERSION 3.25)

file(GLOB_RECURSE sources RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/*.h ${SOURCE_DIR}/*.cpp)
set(problems "")
foreach(source IN LISTS sources)
  if(NOT source MATCHES "^([a-z_]+)/")
    continue()  # the entry point may use every room
  endif()
  set(room ${CMAKE_MATCH_1})
  list(FIND LAYERS ${room} rank)
  if(rank EQUAL -1)
    string(APPEND problems "\n  ${source}: the room ${room} is not in the list of layers")
    continue()
  endif()
  file(STRINGS ${SOURCE_DIR}/${source} includes REGEX "^#include \"[a-z_]+/")
  foreach(include IN LISTS includes)
    string(REGEX REPLACE "^#include \"([a-z_]+)/.*" "\\1" used "${include}")
    list(FIND LAYERS ${used} usedRank)
    if(usedRank EQUAL -1 OR usedRank LESS rank)
      string(APPEND problems "\n  ${source}: ${include} reaches up from ${room} to ${used}")
    endif()
  endforeach()
endforeach()
if(problems)
  message(FATAL_ERROR "Includes that run against the layers (${LAYERS}):${problems}")
endif()
list(LENGTH sources count)
message(STATUS "${count} sources, every include within its room or below it")
