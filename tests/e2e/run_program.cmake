# SPDX-License-Identifier: Apache-2.0
# Runs the program once on a simulated scenario and compares what it printed,
# byte for byte, with the expected text.
#
#   cmake -DPROGRAM=... -DEXPECTED=... [-DSCENARIO=...] [-DEXPECTED_CALLS=...]
#         [-DEMULATOR=...] [-DLINE_END=CRLF] -DWORK_DIR=... -P run_program.cmake
#
# Without SCENARIO the simulated bridge runs its built-in demo. With
# EXPECTED_CALLS, the bridge's call log must hold lines that begin with those
# lines, in that order (other lines may come between them). LINE_END=CRLF expects Windows text
# mode, where every line of standard output ends in CR LF. Whenever there is a call log, every
# handle the bridge gave out must have been closed exactly once.
#
# Beside NAME.expected, a case may have:
#   NAME.args    the program's arguments, on one line
#   NAME.exit    the exit code expected (default 0)
#   NAME.stderr  text that standard error must hold (without it, standard error must be empty)
#   NAME.stop    a signal name on the first line (INT, TERM): the program is stopped with it once
#                its output has as many lines as NAME.expected, or, when a second line is
#                given, once that line has been printed (run_until.sh; POSIX hosts only)
#   NAME.bytes   lines "SERIAL HEX": the block reports are then checked to be whole and to carry
#                exactly these bytes of each bridge, in order, however the reads cut them;
#                NAME.expected then holds only the other lines
#   NAME.repeats lines "held SERIAL N": with JSON, each held tag whose N repeats were left out
#                (--dedupe), by serial string; without the file, none may be told
#   NAME.tags    lines "SERIAL HEX", one per tag: each bridge's reports must then be exactly its
#                tags, one report each, in order; NAME.expected then holds only the other lines
# A line "Bridge library: PATH" (--list) must name LIBRARY, the simulated library in the build
# folder, as the system names it (under wine as Z:\ and backslashes), and is compared as
# "Bridge library: <library>". With --list among the arguments, the call log may hold nothing but
# the version reports, the count and the strings got without opening a bridge.
# With --timestamps among the arguments, every stamp that starts a line must have the form
# 2025-03-01T14:05:09.372+01:00, and each is compared as "<time>". Before report headers, none
# may be earlier than the one before it (a report is timed when its first bytes came); so too
# before the other lines (timed when they were printed).
#
# With JSON=ON and PYTHON set, the program runs with --json added to its arguments: json_lines.py
# checks every line of its output as JSON and writes the human lines those events stand for,
# and everything above is checked on them, as on the human run of the case.
#
# With KESTRUNE_E2E_VALGRIND set to ON in the environment (the valgrind test
# preset does so), the program runs under valgrind's memcheck, and any memory
# error or definite or indirect leak fails the case.
cmake_policy(VERSION 3.25)
foreach(required PROGRAM EXPECTED WORK_DIR)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "${required} is not set")
  endif()
endforeach()

get_filename_component(name "${EXPECTED}" NAME_WE)
get_filename_component(case_dir "${EXPECTED}" DIRECTORY)
set(case "${case_dir}/${name}")
set(program_arguments)
if(EXISTS "${case}.args")
  file(READ "${case}.args" text)
  # A file a case gives the program (a names file) is named from the cases'
  # folder.
  string(REPLACE "@CASES@" "${case_dir}" text "${text}")
  separate_arguments(program_arguments UNIX_COMMAND "${text}")
endif()
if(JSON)
  if(NOT DEFINED PYTHON)
    message(FATAL_ERROR "JSON needs PYTHON")
  endif()
  list(APPEND program_arguments --json)
  set(json_options)
  foreach(option --timestamps --watch --one-line)
    if(option IN_LIST program_arguments)
      list(APPEND json_options ${option})
    endif()
  endforeach()
  if(EXISTS "${case}.stop")
    list(APPEND json_options --stopped)
  endif()
  set(name "${name}.json")
endif()
set(expected_exit 0)
if(EXISTS "${case}.exit")
  file(STRINGS "${case}.exit" expected_exit LIMIT_COUNT 1)
endif()
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

if(EXISTS "${case}.stop")
  # The program runs until the signal comes: env execs it, so the signal
  # reaches the program itself (or the emulator's process that is the program).
  file(STRINGS "${case}.stop" stop)
  list(GET stop 0 signal)
  list(LENGTH stop stop_fields)
  if(stop_fields GREATER 1)
    list(GET stop 1 wait_line)
    set(until "line:${wait_line}")
  else()
    file(STRINGS "${EXPECTED}" expected_lines)
    list(LENGTH expected_lines count)
    set(until "lines:${count}")
  endif()
  string(REPLACE "--unset=" "-u;" env_environment "${environment}")
  if(JSON)
    # The lines to wait for are the human ones the events stand for.
    list(JOIN json_options " " filter_options)
    set(ENV{RUN_UNTIL_FILTER}
        "${PYTHON} ${CMAKE_CURRENT_LIST_DIR}/json_lines.py --partial ${filter_options}")
  endif()
  execute_process(
    COMMAND bash "${CMAKE_CURRENT_LIST_DIR}/run_until.sh" ${signal} "${until}" "${actual}" env
            ${env_environment} ${EMULATOR} ${checker} "${PROGRAM}" ${program_arguments}
    ERROR_VARIABLE errors
    RESULT_VARIABLE exit_code
    TIMEOUT 150)
else()
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env ${environment} ${EMULATOR} ${checker} "${PROGRAM}"
            ${program_arguments}
    OUTPUT_FILE "${actual}"
    ERROR_VARIABLE errors
    RESULT_VARIABLE exit_code
    TIMEOUT 120)
endif()
if(NOT exit_code STREQUAL expected_exit)
  message(FATAL_ERROR "${name}: the program exited with ${exit_code}, not ${expected_exit}\n${errors}")
endif()
if(EXISTS "${case}.stderr")
  file(READ "${case}.stderr" wanted_errors)
  string(REPLACE "\r\n" "\n" got_errors "${errors}")
  string(FIND "${got_errors}" "${wanted_errors}" at)
  if(at LESS 0)
    message(FATAL_ERROR "${name}: standard error lacks\n${wanted_errors}\nit was:\n${errors}")
  endif()
elseif(NOT EMULATOR AND NOT errors STREQUAL "")
  message(FATAL_ERROR "${name}: unexpected output on standard error:\n${errors}")
endif()

if(JSON)
  set(json_output "${actual}")
  set(actual "${WORK_DIR}/${name}.as-lines")
  set(repeats "${WORK_DIR}/${name}.repeats")
  execute_process(COMMAND "${PYTHON}" "${CMAKE_CURRENT_LIST_DIR}/json_lines.py" ${json_options}
                          "--repeats=${repeats}" "${json_output}" "${actual}"
                  ERROR_VARIABLE json_errors RESULT_VARIABLE json_result)
  if(NOT json_result EQUAL 0)
    message(FATAL_ERROR "${name}: the JSON output is wrong: ${json_errors}")
  endif()
  set(wanted_repeats "")
  if(EXISTS "${case}.repeats")
    file(READ "${case}.repeats" wanted_repeats)
  endif()
  file(READ "${repeats}" got_repeats)
  if(NOT got_repeats STREQUAL wanted_repeats)
    message(FATAL_ERROR "${name}: the repeats left out were\n${got_repeats}not\n${wanted_repeats}")
  endif()
  # LF alone ends every JSON line on every system, as json_lines.py checked.
  set(LINE_END LF)
endif()

set(compared "${actual}")
file(STRINGS "${actual}" library_lines REGEX "^Bridge library: ")
if(library_lines)
  if(NOT DEFINED LIBRARY)
    message(FATAL_ERROR "${name}: a listing needs LIBRARY")
  endif()
  list(GET library_lines 0 shown)
  string(REGEX REPLACE "^Bridge library: (.*)\r?$" "\\1" shown "${shown}")
  file(REAL_PATH "${LIBRARY}" wanted)
  if(EMULATOR)
    # wine's drive Z: is the root of the Linux file system.
    string(REPLACE "/" "\\" wanted "Z:${wanted}")
  elseif(CMAKE_HOST_WIN32)
    string(REPLACE "\\" "/" shown "${shown}")
    string(TOLOWER "${shown}" shown)
    string(TOLOWER "${wanted}" wanted)
  endif()
  if(NOT shown STREQUAL wanted)
    message(FATAL_ERROR "${name}: the library listed is ${shown}, not the simulated one it loads, ${wanted}")
  endif()
  file(READ "${compared}" text)
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REGEX REPLACE "(^|\n)Bridge library: [^\n]*" "\\1Bridge library: <library>" text "${text}")
  set(compared "${WORK_DIR}/${name}.library-replaced")
  file(WRITE "${compared}" "${text}")
endif()
if("--timestamps" IN_LIST program_arguments OR "--one-line" IN_LIST program_arguments)
  file(READ "${actual}" text)
  set(digit "[0-9]")
  set(stamp "${digit}${digit}${digit}${digit}-[01]${digit}-[0-3]${digit}T[0-2]${digit}:[0-5]${digit}:[0-6]${digit}[.]${digit}${digit}${digit}[+-][0-2]${digit}:[0-5]${digit}")
  # Each bridge's events are in the order they happened: a report's time is
  # when its first byte came, every other line's when it was written, and
  # readers on threads of their own may interleave their bridges' lines.
  # A ';' in a line would split it in CMake's list.
  string(REPLACE ";" "," listed "${text}")
  string(REGEX MATCHALL "(^|\n)${stamp} [^\n]*" stamped "${listed}")
  foreach(found IN LISTS stamped)
    string(REGEX MATCH "${stamp}" time "${found}")
    if(found MATCHES ">>>\\[DATA FROM (.*), [0-9]+ BYTE\\]")
      set(key "report ${CMAKE_MATCH_1}")
    elseif(found MATCHES " (Connected to|Failed to connect to|Disconnected from|Error:) ([^:\r]*)")
      set(key "line ${CMAKE_MATCH_2}")
    else()
      set(key "line")
    endif()
    string(MAKE_C_IDENTIFIER "${key}" key)
    if(DEFINED "last_${key}" AND time STRLESS "${last_${key}}")
      message(FATAL_ERROR "${name}: time stamp ${time} comes after ${last_${key}}")
    endif()
    set("last_${key}" "${time}")
  endforeach()
  string(REGEX REPLACE "(^|\n)${stamp} " "\\1<time> " text "${text}")
  set(compared "${WORK_DIR}/${name}.stamps-replaced")
  file(WRITE "${compared}" "${text}")
endif()

set(by_bridge "")
if(EXISTS "${case}.bytes")
  set(by_bridge bytes)
elseif(EXISTS "${case}.tags")
  set(by_bridge tags)
endif()
if(by_bridge)
  # The reports of several bridges, interleaved as their reads came: each one
  # whole, and each bridge's bytes complete and in order (.bytes), or each
  # report one whole tag (.tags).
  file(STRINGS "${compared}" lines)
  list(LENGTH lines count)
  set(others "")
  set(serials)
  set(index 0)
  while(index LESS count)
    list(GET lines ${index} line)
    string(REGEX REPLACE "\r$" "" line "${line}")
    math(EXPR index "${index} + 1")
    if(NOT line MATCHES "^(<time> )?>>>\\[DATA FROM (.*), ([0-9]+) BYTE\\]$")
      string(APPEND others "${line}\n")
      continue()
    endif()
    set(serial "${CMAKE_MATCH_2}")
    set(size "${CMAKE_MATCH_3}")
    math(EXPR last "${index} + 3")
    if(NOT last LESS count)
      message(FATAL_ERROR "${name}: a report cut short: ${line}")
    endif()
    set(report)
    foreach(at RANGE ${index} ${last})
      list(GET lines ${at} part)
      string(REGEX REPLACE "\r$" "" part "${part}")
      list(APPEND report "${part}")
    endforeach()
    list(GET report 0 hex)
    list(GET report 3 close)
    math(EXPR digits "2 * ${size}")
    string(LENGTH "${hex}" hex_length)
    math(EXPR hex_length "${hex_length} - 4")
    if(NOT hex MATCHES "^  0x[0-9A-F]+$" OR NOT hex_length EQUAL digits OR NOT close STREQUAL "<<<")
      message(FATAL_ERROR "${name}: a report that is not whole: ${line} ${report}")
    endif()
    string(SUBSTRING "${hex}" 4 -1 hex)
    if(NOT serial IN_LIST serials)
      list(APPEND serials "${serial}")
      set("bytes_${serial}" "")
    endif()
    if(by_bridge STREQUAL "tags")
      # One tag per report: a space between reports keeps them apart.
      string(APPEND "bytes_${serial}" " ${hex}")
    else()
      string(APPEND "bytes_${serial}" "${hex}")
    endif()
    math(EXPR index "${last} + 1")
  endwhile()
  file(STRINGS "${case}.${by_bridge}" wanted)
  set(wanted_serials)
  foreach(entry IN LISTS wanted)
    string(REGEX MATCH "^([^ ]*) ([0-9A-F]*)$" matched "${entry}")
    if(NOT matched)
      message(FATAL_ERROR "${name}: a malformed line in ${case}.${by_bridge}: ${entry}")
    endif()
    if(by_bridge STREQUAL "tags")
      if(NOT CMAKE_MATCH_1 IN_LIST wanted_serials)
        list(APPEND wanted_serials "${CMAKE_MATCH_1}")
        set("tags_${CMAKE_MATCH_1}" "")
      endif()
      string(APPEND "tags_${CMAKE_MATCH_1}" " ${CMAKE_MATCH_2}")
      continue()
    endif()
    set(serial "${CMAKE_MATCH_1}")
    if(NOT "${bytes_${serial}}" STREQUAL "${CMAKE_MATCH_2}")
      message(FATAL_ERROR "${name}: the bytes reported from ${serial} are not those sent, in order; "
                          "the output is ${actual}")
    endif()
  endforeach()
  if(by_bridge STREQUAL "tags")
    foreach(serial IN LISTS serials)
      if(NOT serial IN_LIST wanted_serials)
        message(FATAL_ERROR "${name}: ${serial} reported bytes but sent no tag")
      endif()
    endforeach()
  endif()
  foreach(serial IN LISTS wanted_serials)
    if(NOT "${bytes_${serial}}" STREQUAL "${tags_${serial}}")
      string(REPLACE " " "\n  " got "${bytes_${serial}}")
      string(REPLACE " " "\n  " sent "${tags_${serial}}")
      message(FATAL_ERROR "${name}: the reports of ${serial} are not its tags, one each, in order; "
                          "sent:${sent}\nreported:${got}\nthe output is ${actual}")
    endif()
  endforeach()
  set(compared "${WORK_DIR}/${name}.other-lines")
  file(WRITE "${compared}" "${others}")
endif()

set(expected_file "${EXPECTED}")
if(LINE_END STREQUAL "CRLF" AND NOT compared STREQUAL actual)
  # file(READ) drops carriage returns, so the rewritten output has plain line
  # ends: those of the raw output are checked here instead.
  file(READ "${actual}" hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "\\1 " hex "${hex}")
  string(REGEX MATCHALL " 0a " line_ends " ${hex}")
  string(REGEX MATCHALL "0d 0a " crlf_ends "${hex}")
  list(LENGTH line_ends line_end_count)
  list(LENGTH crlf_ends crlf_count)
  if(NOT line_end_count EQUAL crlf_count)
    message(FATAL_ERROR "${name}: a line of ${actual} does not end in CR LF")
  endif()
elseif(LINE_END STREQUAL "CRLF")
  file(READ "${EXPECTED}" text)
  string(REPLACE "\n" "\r\n" text "${text}")
  set(expected_file "${WORK_DIR}/${name}.expected-crlf")
  file(WRITE "${expected_file}" "${text}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${expected_file}" "${compared}"
                RESULT_VARIABLE differs)
if(differs)
  file(READ "${compared}" got)
  message(FATAL_ERROR "${name}: output differs from ${EXPECTED}; it was (${compared}):\n${got}")
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

# The simulated library flags every call that breaks the threading contract.
if(EXISTS "${calls}")
  file(STRINGS "${calls}" breaches REGEX "^CONTRACT BROKEN")
  if(breaches)
    message(FATAL_ERROR "${name}: the threading contract was broken:\n${breaches}\n"
                        "its call log is ${calls}")
  endif()
endif()

if("--list" IN_LIST program_arguments AND EXISTS "${calls}")
  # A listing opens nothing and changes no setting.
  file(STRINGS "${calls}" made)
  foreach(line IN LISTS made)
    if(NOT line MATCHES "^HidUart_(GetLibraryVersion|GetHidLibraryVersion|GetNumDevices|GetString) ")
      message(FATAL_ERROR "${name}: a listing called ${line}")
    endif()
  endforeach()
endif()

if(EXISTS "${calls}")
  # Every handle given out is closed once: none left open, none closed twice.
  file(STRINGS "${calls}" opens REGEX "^HidUart_Open .* -> 0x00 handle=")
  file(STRINGS "${calls}" closes REGEX "^HidUart_Close handle=")
  set(opened)
  foreach(line IN LISTS opens)
    string(REGEX MATCH "handle=([0-9]+)$" matched "${line}")
    list(APPEND opened "${CMAKE_MATCH_1}")
  endforeach()
  set(closed)
  foreach(line IN LISTS closes)
    string(REGEX MATCH "^HidUart_Close handle=([^ ]+) " matched "${line}")
    list(APPEND closed "${CMAKE_MATCH_1}")
  endforeach()
  list(SORT opened COMPARE NATURAL)
  list(SORT closed COMPARE NATURAL)
  if(NOT "${opened}" STREQUAL "${closed}")
    message(FATAL_ERROR "${name}: handles opened (${opened}) and closed (${closed}) differ; "
                        "its call log is ${calls}")
  endif()
endif()
