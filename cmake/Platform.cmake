# Platform settings shared by every target.

if(MINGW)
  # Only Windows' own DLLs (and the bridge library) at run time: with the
  # posix-thread MinGW, -static-libstdc++ alone still pulls in
  # libwinpthread-1.dll, so everything is linked statically.
  add_link_options(-static)
endif()

if(CMAKE_CROSSCOMPILING AND WIN32 AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
  # Tests of the Windows build run under wine, in a prefix of their own in the
  # build folder, so that nothing of the user's wine setup leaks in.
  find_program(WINE_PROGRAM NAMES wine64 wine PATHS /usr/lib/wine)
  if(WINE_PROGRAM)
    set(CMAKE_CROSSCOMPILING_EMULATOR
        env WINEDEBUG=-all WINEPREFIX=${PROJECT_BINARY_DIR}/wine-prefix ${WINE_PROGRAM})
  endif()
endif()
