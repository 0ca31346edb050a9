# Whether to build the open bridge library over hidapi's hidraw backend: on by
# default wherever that backend is installed, never on Windows.
find_package(PkgConfig QUIET)
set(_kestrune_hidraw_found OFF)
if(PkgConfig_FOUND AND NOT WIN32)
  pkg_check_modules(KESTRUNE_HIDRAW_PROBE QUIET hidapi-hidraw)
  if(KESTRUNE_HIDRAW_PROBE_FOUND)
    set(_kestrune_hidraw_found ON)
  endif()
endif()
option(KESTRUNE_OPEN_BACKEND "Build the open bridge library over hidapi (hidraw)"
  ${_kestrune_hidraw_found})
