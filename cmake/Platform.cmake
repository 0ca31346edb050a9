# SPDX-License-Identifier: Apache-2.0
# Platform settings shared by every target.

if(MINGW)
  # Only Windows' own DLLs (and the bridge library) at run time: with the
  # posix-thread MinGW, -static-libstdc++ alone still pulls in
  # libwinpthread-1.dll, so everything is linked statically.
  add_link_options(-static)
endif()

if(CMAKE_CROSSCOMPILING AND WIN32 AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
  # Tests of the Windows build run under wine, in a prefix of their own in the
  # build folder, so that nothing of the user's wine setup leaks in. The
  # prefix is made once, before any program runs in it (wine-run.sh).
  find_program(WINE_PROGRAM NAMES wine64 wine PATHS /usr/lib/wine)
  find_program(WINESERVER_PROGRAM NAMES wineserver64 wineserver PATHS /usr/lib/wine)
  if(WINE_PROGRAM AND WINESERVER_PROGRAM)
    set(CMAKE_CROSSCOMPILING_EMULATOR
        sh ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh ${WINE_PROGRAM} ${WINESERVER_PROGRAM}
        ${PROJECT_BINARY_DIR}/wine-prefix)
  endif()
endif()
