# What an operator gets from `cmake --install` and the CPack ZIP: the program
# and this README. The simulated bridge is left out unless its own component
# is asked for, so that nobody ships the simulation in place of the vendor's
# library by mistake.
include(GNUInstallDirs)

if(WIN32)
  # A Windows program finds its DLLs beside itself: keep one flat folder.
  set(KESTRUNE_INSTALL_BINDIR .)
  set(KESTRUNE_INSTALL_DOCDIR .)
else()
  set(KESTRUNE_INSTALL_BINDIR ${CMAKE_INSTALL_BINDIR})
  set(KESTRUNE_INSTALL_DOCDIR ${CMAKE_INSTALL_DOCDIR})
endif()

install(TARGETS kestrune RUNTIME DESTINATION ${KESTRUNE_INSTALL_BINDIR} COMPONENT program)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${KESTRUNE_INSTALL_DOCDIR}
        COMPONENT program)

# cmake --install <build> --component simulated_bridge
# Every artifact kind names the component, or it would fall back to the
# default one and be installed with the program.
install(TARGETS simulated_bridge
        RUNTIME DESTINATION ${KESTRUNE_INSTALL_BINDIR} COMPONENT simulated_bridge EXCLUDE_FROM_ALL
        LIBRARY DESTINATION ${KESTRUNE_INSTALL_BINDIR} COMPONENT simulated_bridge EXCLUDE_FROM_ALL
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT simulated_bridge EXCLUDE_FROM_ALL)

# cmake --install <build> --component open_bridge (Linux): the open bridge
# library, for real bridges with no closed library. It has the same file name
# as the simulated one, so a folder holds one or the other.
if(TARGET hid_bridge)
  install(TARGETS hid_bridge
          LIBRARY DESTINATION ${KESTRUNE_INSTALL_BINDIR} COMPONENT open_bridge EXCLUDE_FROM_ALL)
endif()

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME kestrune)
set(CPACK_PACKAGE_VENDOR Kestrune)
if(WIN32)
  set(CPACK_SYSTEM_NAME windows-x64)
endif()
set(CPACK_COMPONENTS_ALL program)
set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
include(CPack)
