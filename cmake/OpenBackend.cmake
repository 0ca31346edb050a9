# SPDX-License-Identifier: Apache-2.0
# Whether to build the open bridge library over hidapi: on by default wherever
# hidapi can be had. On Linux that is Debian's hidraw backend; for Windows,
# hidapi's Windows backend is built from its source, which Debian ships only
# as a source package (cmake/fetch-debian-source.sh hidapi fetches it, pinned).
set(_kestrune_hidapi_found OFF)
if(WIN32)
  set(KESTRUNE_HIDAPI_SOURCE_DIR "${PROJECT_SOURCE_DIR}/build/deps/hidapi-0.13.1" CACHE PATH
      "hidapi's source, for the Windows build of the open bridge library")
  if(NOT EXISTS "${KESTRUNE_HIDAPI_SOURCE_DIR}/windows/hid.c" AND CMAKE_HOST_UNIX)
    find_program(KESTRUNE_APT_GET apt-get)
    if(KESTRUNE_APT_GET)
      get_filename_component(_kestrune_deps "${KESTRUNE_HIDAPI_SOURCE_DIR}" DIRECTORY)
      execute_process(COMMAND sh ${PROJECT_SOURCE_DIR}/cmake/fetch-debian-source.sh hidapi
                              ${_kestrune_deps})
    endif()
  endif()
  if(EXISTS "${KESTRUNE_HIDAPI_SOURCE_DIR}/windows/hid.c")
    set(_kestrune_hidapi_found ON)
  else()
    message(STATUS "No hidapi source in ${KESTRUNE_HIDAPI_SOURCE_DIR}: the open bridge library "
                   "is left out (cmake/fetch-debian-source.sh hidapi fetches it)")
  endif()
else()
  find_package(PkgConfig QUIET)
  if(PkgConfig_FOUND)
    pkg_check_modules(KESTRUNE_HIDRAW_PROBE QUIET hidapi-hidraw)
    if(KESTRUNE_HIDRAW_PROBE_FOUND)
      set(_kestrune_hidapi_found ON)
    endif()
  endif()
endif()
option(KESTRUNE_OPEN_BACKEND "Build the open bridge library over hidapi" ${_kestrune_hidapi_found})
