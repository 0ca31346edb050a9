# Runs the program once on a simulated scenario and compares what it printed,
# byte for byte, with the expected text.
#
#   cmake -DPROGRAM=... -DEXPECTED=... [-DSCENARIO=...] [-DEXPECTED_CALLS=...]
#         [-DEMULATOR=...] [-DLINE_END=CRLF] -DWORK_DIR=... -P run_program.cmake
#
# Without SCENARIO the simulated bridge runs its built-in demo. With
# EXPECTED_CALLS, the bridge's call log must hold lines that begin with those
# lines, in that order (other lines may come between them). LINE_END=CRLF expects Windows text
# mode, where every line of standard output ends in CR LF.
#
# With KESTRUNE_E2E_VALGRIND set to ON in the environment (the valgrind test
# preset does so), the program runs under valgrind's memcheck, and any memory
# error or definite or indirect leak fails the case.
foreach(required PROGRAM EXPECTED WORK_DIR)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "${required} is not set")
  endif()
endforeach()

get_filename_component(name "${EXPECTED}" NAME_WE)
file(MAKE_DIRECTORY "${WORK_DIR}")
set(actual "${WORK_DIR}/${name}.out")
set(calls "${WORK_DIR}/${name}.calls")
file(REMOVE "${actual}" "${calls}")

set(environment "HIDUART_SIM_LOG=${calls}")
if(DEFINED SCENARIO)
  list(APPEND environment "HIDUART_SIM_SCENARIO=${SCENARIO}")
else()
  list(APPEND environment "--unset=HIDUART_SIM_SCENARIO")
endif()

set(checker)
set(under_valgrind "$ENV{KESTRUNE_E2E_VALGRIND}")
if(under_valgrind)
  find_program(VALGRIND valgrind REQUIRED)
  # --quiet leaves standard error empty unless valgrind has something to say,
  # so the check for unexpected output below catches its reports too.
  set(checker ${VALGRIND} --quiet --error-exitcode=99 --leak-check=full
              --errors-for-leak-kinds=definite,indirect --show-leak-kinds=definite,indirect)
endif()

execute_process(
  COMMAND ${CMAKE_COMMAND} -E env ${environment} ${EMULATOR} ${checker} "${PROGRAM}"
  OUTPUT_FILE "${actual}"
  ERROR_VARIABLE errors
  RESULT_VARIABLE exit_code
  TIMEOUT 120)
if(NOT exit_code STREQUAL "0")
  message(FATAL_ERROR "${name}: the program exited with ${exit_code}\n${errors}")
endif()
if(NOT EMULATOR AND NOT errors STREQUAL "")
  message(FATAL_ERROR "${name}: unexpected output on standard error:\n${errors}")
endif()

set(expected_file "${EXPECTED}")
if(LINE_END STREQUAL "CRLF")
  file(READ "${EXPECTED}" text)
  string(REPLACE "\n" "\r\n" text "${text}")
  set(expected_file "${WORK_DIR}/${name}.expected-crlf")
  file(WRITE "${expected_file}" "${text}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${expected_file}" "${actual}"
                RESULT_VARIABLE differs)
if(differs)
  file(READ "${actual}" got)
  message(FATAL_ERROR "${name}: output differs from ${EXPECTED}; it was (${actual}):\n${got}")
endif()

if(DEFINED EXPECTED_CALLS)
  file(STRINGS "${EXPECTED_CALLS}" wanted)
  file(STRINGS "${calls}" made)
  set(position 0)
  list(LENGTH made count)
  foreach(line IN LISTS wanted)
    set(found FALSE)
    while(position LESS count)
      list(GET made ${position} candidate)
      math(EXPR position "${position} + 1")
      string(FIND "${candidate}" "${line}" at)
      if(at EQUAL 0)
        set(found TRUE)
        break()
      endif()
    endwhile()
    if(NOT found)
      message(FATAL_ERROR "${name}: the bridge was not called with\n  ${line}\n"
                          "in that order; its call log is ${calls}")
    endif()
  endforeach()
endif()
