# SPDX-License-Identifier: Apache-2.0
# Installs the build into fresh folders, component by component, and checks
# what an operator gets from each.
#   cmake -DBUILD_DIR=... -DWORK_DIR=... -DPROGRAM=... -DLIBRARY=... [-DWINDOWS=ON]
#         [-DOPEN_BRIDGE=ON] -P check_install.cmake
set(components program simulated_bridge)
if(OPEN_BRIDGE)
  list(APPEND components open_bridge)
endif()
foreach(component IN LISTS components)
  set(prefix "${WORK_DIR}/${component}")
  file(REMOVE_RECURSE "${prefix}")
  if(component STREQUAL "program")
    set(component_option)
  else()
    set(component_option --component ${component})
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${prefix}"
                          ${component_option}
                  OUTPUT_QUIET RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "installing ${component} failed")
  endif()
  file(GLOB_RECURSE installed RELATIVE "${prefix}" "${prefix}/*")
  list(SORT installed)
  set(${component}_files ${installed})
endforeach()

function(expect_files component)
  if(NOT "${${component}_files}" STREQUAL "${ARGN}")
    message(FATAL_ERROR "${component} installs\n  ${${component}_files}\nnot\n  ${ARGN}")
  endif()
endfunction()

if(WINDOWS)
  # One flat folder: the program, the operator's README and the JSON Lines
  # reference in CR LF, the licence and those of the third-party code built
  # in.
  expect_files(program LICENSE.txt MANUAL.txt README.txt json-lines.md ${PROGRAM}
               third-party/mosquitto-edl-v10.txt)
  # As many CRs as LFs (file(READ) would drop the CRs, so count the bytes).
  file(READ "${WORK_DIR}/program/README.txt" readme_hex HEX)
  string(REGEX MATCHALL ".." readme_bytes "${readme_hex}")
  set(lf_bytes ${readme_bytes})
  list(FILTER lf_bytes INCLUDE REGEX "^0a$")
  list(FILTER readme_bytes INCLUDE REGEX "^0d$")
  list(LENGTH lf_bytes lf_count)
  list(LENGTH readme_bytes cr_count)
  file(STRINGS "${WORK_DIR}/program/README.txt" mentions_program REGEX "kestrune\\.exe")
  if(lf_count EQUAL 0 OR NOT cr_count EQUAL lf_count OR NOT mentions_program)
    message(FATAL_ERROR "README.txt is not the operator's README with CR LF line ends")
  endif()
  # The DLL alone: an operator has no use for its import library.
  expect_files(simulated_bridge ${LIBRARY})
  if(OPEN_BRIDGE)
    # A whole folder that needs no vendor library.
    expect_files(open_bridge LICENSE.txt MANUAL.txt README.txt ${LIBRARY} json-lines.md ${PROGRAM}
                 third-party/hidapi-LICENSE-bsd.txt third-party/mosquitto-edl-v10.txt)
  endif()
else()
  expect_files(program bin/${PROGRAM} share/doc/kestrune/README share/doc/kestrune/changelog.gz
               share/doc/kestrune/copyright share/doc/kestrune/json-lines.md
               share/man/man1/kestrune.1.gz)
  expect_files(simulated_bridge bin/${LIBRARY})
  if(OPEN_BRIDGE)
    expect_files(open_bridge lib/kestrune/${LIBRARY} lib/udev/rules.d/60-kestrune-cp2110.rules
                 share/doc/kestrune/open-bridge/README.md)
  endif()
endif()
