# SPDX-License-Identifier: Apache-2.0
# What an operator gets from `cmake --install` and from CPack: on Windows the
# program and an operator's README in one folder (a ZIP), and the same with
# our bridge library beside the program (a second ZIP); on Linux the program
# and, as the component open_bridge, the open bridge library, its udev rule
# and its README, and as the component service a systemd unit for a station
# (a Debian package with all of them). The simulated bridge is
# left out unless its own component is asked for, so that nobody ships the
# simulation in place of a real bridge library by mistake.
include(GNUInstallDirs)

# The operators' READMEs, Linux's and Windows', are made from one template,
# packaging/readme/README.txt.in: what they say alike is written once there,
# the words that differ are the variables set here, and the sections that
# differ whole (installing, starting, the service, the licence) are the files
# packaging/readme/PLATFORM-SECTION.txt, which may use the same variables.
#   kestrune_operator_readme(linux|windows OUTPUT [configure_file options...])
function(kestrune_operator_readme platform output)
  set(KESTRUNE_README_SECTIONS install start service licence)
  if(platform STREQUAL "windows")
    set(KESTRUNE_README_TITLE "Kestrune on Windows")
    set(KESTRUNE_COMMAND kestrune.exe)
    set(KESTRUNE_README_REFERENCE
        "\"kestrune.exe --help\" sums up the options; MANUAL.txt, beside the program,\nis the reference of every one; this README says how to use them.")
    set(KESTRUNE_README_EDITOR "a text file made with Notepad")
    set(KESTRUNE_README_SEARCH "findstr 123456789A station.log")
    set(KESTRUNE_README_PATH "...                                    where Windows lists it")
    set(KESTRUNE_README_HELD_OUTPUT
        "a window with text selected in it (Windows then\nstops the program's output)")
    set(KESTRUNE_README_STOP_KEYS "Ctrl+C or Ctrl+Break, or by closing its window")
    set(KESTRUNE_README_JSON_LINES "json-lines.md, beside the program")
    set(KESTRUNE_README_FOLLOW "powershell Get-Content station.log -Wait")
    set(KESTRUNE_README_CONSOLE "Command Prompt")
    set(KESTRUNE_README_EXIT "exit code (%ERRORLEVEL%)")
    set(KESTRUNE_README_EXIT_SERVICE ", 5 when the service manager refused")
    set(KESTRUNE_README_MANUAL "MANUAL.txt")
    set(KESTRUNE_README_HOSTNAME %COMPUTERNAME%)
    set(KESTRUNE_README_TLS "This Windows program speaks no TLS, so mqtts:// is refused.")
    set(KESTRUNE_README_SET "set ")
    set(KESTRUNE_README_SPOOL "%ProgramData%\\Kestrune\\spool")
  else()
    set(KESTRUNE_README_TITLE "Kestrune on Linux")
    set(KESTRUNE_COMMAND kestrune)
    set(KESTRUNE_README_REFERENCE "\"man kestrune\" has every option, the exit statuses, the files and the\n\
environment; this README says how to use them.")
    set(KESTRUNE_README_EDITOR "a plain text file")
    set(KESTRUNE_README_SEARCH "grep 123456789A station.log")
    set(KESTRUNE_README_PATH "/dev/hidraw0                           its device node")
    set(KESTRUNE_README_HELD_OUTPUT "a terminal paused with Ctrl+S")
    set(KESTRUNE_README_STOP_KEYS "Ctrl+C")
    set(KESTRUNE_README_JSON_LINES "/usr/share/doc/kestrune/json-lines.md")
    set(KESTRUNE_README_FOLLOW "tail -f station.log")
    set(KESTRUNE_README_CONSOLE "terminal")
    set(KESTRUNE_README_EXIT "exit status")
    set(KESTRUNE_README_EXIT_SERVICE "")
    set(KESTRUNE_README_MANUAL "the manual page (man kestrune)")
    set(KESTRUNE_README_HOSTNAME "$(hostname)")
    set(KESTRUNE_README_TLS "mqtts://BROKER/... connects with TLS (port 8883).")
    set(KESTRUNE_README_SET "export ")
    set(KESTRUNE_README_SPOOL "~/.local/state/kestrune/spool")
  endif()
  string(LENGTH "${KESTRUNE_README_TITLE}" title_length)
  string(REPEAT "=" ${title_length} KESTRUNE_README_RULE)
  set(readme_dir ${PROJECT_SOURCE_DIR}/packaging/readme)
  foreach(section IN LISTS KESTRUNE_README_SECTIONS)
    set(file ${readme_dir}/${platform}-${section}.txt)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${file})
    file(READ ${file} text)
    string(CONFIGURE "${text}" text @ONLY)
    string(REGEX REPLACE "\n$" "" text "${text}")
    string(TOUPPER ${section} name)
    set(KESTRUNE_README_${name} "${text}")
  endforeach()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${readme_dir}/README.txt.in)
  file(READ ${readme_dir}/README.txt.in text)
  string(CONFIGURE "${text}" text @ONLY)
  # Every line end is in the text now, so NEWLINE_STYLE reaches them all
  # (configure_file would leave those inside a variable's value alone).
  file(CONFIGURE OUTPUT ${output} CONTENT "${text}" @ONLY ${ARGN})
endfunction()

if(WIN32)
  # A Windows program finds its DLLs beside itself: keep one flat folder.
  set(KESTRUNE_INSTALL_BINDIR .)
  set(KESTRUNE_INSTALL_DOCDIR .)
  set(KESTRUNE_INSTALL_BRIDGEDIR .)
else()
  set(KESTRUNE_INSTALL_BINDIR ${CMAKE_INSTALL_BINDIR})
  set(KESTRUNE_INSTALL_DOCDIR ${CMAKE_INSTALL_DOCDIR})
  # The program's second RUNPATH entry (app/CMakeLists.txt).
  set(KESTRUNE_INSTALL_BRIDGEDIR lib/kestrune)
endif()

install(TARGETS kestrune RUNTIME DESTINATION ${KESTRUNE_INSTALL_BINDIR} COMPONENT program)
if(WIN32)
  # The operator's README and the JSON Lines reference, with Windows line
  # ends whatever the sources have.
  kestrune_operator_readme(windows ${PROJECT_BINARY_DIR}/packaging/README.txt NEWLINE_STYLE CRLF)
  configure_file(${PROJECT_SOURCE_DIR}/docs/json-lines.md
                 ${PROJECT_BINARY_DIR}/packaging/json-lines.md @ONLY NEWLINE_STYLE CRLF)
  # The manual page as plain text, for a system without man: the one
  # reference of every option, exit status and behaviour on Windows too.
  include(PackageDocuments)
  find_program(KESTRUNE_GROFF groff REQUIRED)
  execute_process(COMMAND ${KESTRUNE_GROFF} -man -Tascii -P-cbou ${KESTRUNE_MANUAL_PAGE}
                  OUTPUT_VARIABLE manual ERROR_VARIABLE manual_errors RESULT_VARIABLE failed)
  if(failed OR NOT manual_errors STREQUAL "")
    message(FATAL_ERROR "groff could not render the manual page: ${manual_errors}")
  endif()
  string(REPLACE "\n" "\r\n" manual "${manual}")
  file(WRITE ${PROJECT_BINARY_DIR}/packaging/MANUAL.txt "${manual}")
  install(FILES ${PROJECT_BINARY_DIR}/packaging/README.txt
                ${PROJECT_BINARY_DIR}/packaging/MANUAL.txt
                ${PROJECT_BINARY_DIR}/packaging/json-lines.md
          DESTINATION ${KESTRUNE_INSTALL_DOCDIR} COMPONENT program)
  # The program's licence, and those of the third-party code built into it
  # (libmosquitto, under the Eclipse Distribution License of its two) and
  # into our bridge library (hidapi, under its BSD licence of its three).
  configure_file(${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_BINARY_DIR}/packaging/LICENSE.txt
                 @ONLY NEWLINE_STYLE CRLF)
  configure_file(${KESTRUNE_MOSQUITTO_SOURCE_DIR}/edl-v10
                 ${PROJECT_BINARY_DIR}/packaging/third-party/mosquitto-edl-v10.txt
                 @ONLY NEWLINE_STYLE CRLF)
  foreach(component program open_bridge)
    set(optional)
    if(component STREQUAL open_bridge)
      set(optional EXCLUDE_FROM_ALL)
    endif()
    install(FILES ${PROJECT_BINARY_DIR}/packaging/LICENSE.txt DESTINATION .
            COMPONENT ${component} ${optional})
    install(FILES ${PROJECT_BINARY_DIR}/packaging/third-party/mosquitto-edl-v10.txt
            DESTINATION third-party COMPONENT ${component} ${optional})
  endforeach()
  if(TARGET hid_bridge)
    configure_file(${KESTRUNE_HIDAPI_SOURCE_DIR}/LICENSE-bsd.txt
                   ${PROJECT_BINARY_DIR}/packaging/third-party/hidapi-LICENSE-bsd.txt
                   @ONLY NEWLINE_STYLE CRLF)
    install(FILES ${PROJECT_BINARY_DIR}/packaging/third-party/hidapi-LICENSE-bsd.txt
            DESTINATION third-party COMPONENT open_bridge EXCLUDE_FROM_ALL)
  endif()
else()
  include(PackageDocuments)
  # The operator's README, the JSON Lines reference, the copyright file, the
  # changelog and the manual page: what Debian expects of a package, and what
  # an operator and an integrator read.
  kestrune_operator_readme(linux ${PROJECT_BINARY_DIR}/packaging/README)
  install(FILES ${PROJECT_BINARY_DIR}/packaging/README ${PROJECT_SOURCE_DIR}/docs/json-lines.md
          DESTINATION ${KESTRUNE_INSTALL_DOCDIR} COMPONENT program)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${KESTRUNE_CHANGELOG_GZ}
          DESTINATION ${KESTRUNE_INSTALL_DOCDIR} COMPONENT program)
  install(FILES ${KESTRUNE_MANUAL_PAGE_GZ} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
          COMPONENT program)
endif()

# cmake --install <build> --component simulated_bridge: the library alone,
# without the import library a MinGW build makes beside a DLL.
install(FILES $<TARGET_FILE:simulated_bridge> DESTINATION ${KESTRUNE_INSTALL_BINDIR}
        COMPONENT simulated_bridge EXCLUDE_FROM_ALL)

# cmake --install <build> --component open_bridge (Windows): a whole folder
# that watches bridges with no vendor library: the program, our bridge
# library beside it, the operator's README and the JSON Lines reference.
if(TARGET hid_bridge AND WIN32)
  install(TARGETS kestrune RUNTIME DESTINATION . COMPONENT open_bridge EXCLUDE_FROM_ALL)
  install(TARGETS hid_bridge RUNTIME DESTINATION . COMPONENT open_bridge EXCLUDE_FROM_ALL)
  install(FILES ${PROJECT_BINARY_DIR}/packaging/README.txt
                ${PROJECT_BINARY_DIR}/packaging/MANUAL.txt
                ${PROJECT_BINARY_DIR}/packaging/json-lines.md
          DESTINATION . COMPONENT open_bridge EXCLUDE_FROM_ALL)
# cmake --install <build> --component open_bridge (Linux): the open bridge
# library where the installed program looks after its own folder, the udev
# rule that lets the group plugdev use bridges, and the library's README.
elseif(TARGET hid_bridge)
  install(TARGETS hid_bridge
          LIBRARY DESTINATION ${KESTRUNE_INSTALL_BRIDGEDIR} COMPONENT open_bridge EXCLUDE_FROM_ALL)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/60-kestrune-cp2110.rules
          DESTINATION lib/udev/rules.d COMPONENT open_bridge EXCLUDE_FROM_ALL)
  install(FILES ${PROJECT_SOURCE_DIR}/bridge/hid/README.md
          DESTINATION ${KESTRUNE_INSTALL_DOCDIR}/open-bridge COMPONENT open_bridge
          EXCLUDE_FROM_ALL)
endif()

# cmake --install <build> --component service (Linux): the systemd unit of a
# station, its arguments' file and its readers' names. The Debian package
# installs them; the files go to /etc whatever the prefix, as the unit reads
# them from there.
if(NOT WIN32)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/kestrune.service
          DESTINATION lib/systemd/system COMPONENT service EXCLUDE_FROM_ALL)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/kestrune.default
          DESTINATION /etc/default RENAME kestrune COMPONENT service EXCLUDE_FROM_ALL)
  # The readers' names the unit passes (--names), empty but for its comments.
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/kestrune.names
          DESTINATION /etc/kestrune RENAME names COMPONENT service EXCLUDE_FROM_ALL)
endif()

set(CPACK_PACKAGE_NAME kestrune)
set(CPACK_PACKAGE_VENDOR Kestrune)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
if(WIN32)
  # Two ZIPs: the program alone, for the vendor's DLLs
  # (kestrune-VERSION-windows-x64.zip), and the program with our bridge
  # library, which works with no vendor library
  # (kestrune-VERSION-windows-x64-open-bridge.zip).
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME windows-x64)
  set(CPACK_COMPONENTS_ALL program)
  if(TARGET hid_bridge)
    list(APPEND CPACK_COMPONENTS_ALL open_bridge)
  endif()
  set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_GROUPING IGNORE)
  set(CPACK_ARCHIVE_PROGRAM_FILE_NAME kestrune-${PROJECT_VERSION}-windows-x64)
  set(CPACK_ARCHIVE_OPEN_BRIDGE_FILE_NAME kestrune-${PROJECT_VERSION}-windows-x64-open-bridge)
else()
  # One package, kestrune_VERSION_ARCH.deb: `apt install ./kestrune_*.deb`.
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_COMPONENTS_ALL program service)
  if(TARGET hid_bridge)
    list(APPEND CPACK_COMPONENTS_ALL open_bridge)
  endif()
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER
      "Kestrune maintainers <maintainers@users.noreply.c-seed-9edc638c.example>")
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  # The synopsis comes first, from CPACK_PACKAGE_DESCRIPTION_SUMMARY; Debian
  # wants the lines below it to fit 80 columns.
  string(JOIN "\n" CPACK_DEBIAN_PACKAGE_DESCRIPTION
         "Kestrune finds every attached CP2110 HID-to-UART bridge, sets its serial"
         "line to 9600 baud 8N1 and prints every block of bytes that arrives on it,"
         "in hex and as the numbers a tag reader's tags stand for. It only listens."
         "Station mode watches many readers at once, picks up readers plugged in"
         "later, and can write JSON Lines for a message broker."
         "The package brings the open bridge library, which speaks to the bridges"
         "through the kernel's hidraw interface, a udev rule that gives the group"
         "plugdev access to them, and a systemd unit for a station, not enabled.")
  # Dependencies from the libraries the program and the open library link.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_STRIP_FILES ON)
  # /etc/default/kestrune is a conffile: an administrator's arguments survive
  # upgrades, and it goes only with a purge.
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
      ${PROJECT_SOURCE_DIR}/packaging/postinst ${PROJECT_SOURCE_DIR}/packaging/prerm
      ${PROJECT_SOURCE_DIR}/packaging/postrm ${PROJECT_SOURCE_DIR}/packaging/conffiles)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()
include(CPack)
