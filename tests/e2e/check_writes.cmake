# SPDX-License-Identifier: Apache-2.0
# Runs the program under strace and checks how its output reached the
# system: every block report, and every group of lines flushed together,
# leaves in one write, and no write ends in the middle of a line. A reader of
# a growing log, or a run interrupted at any moment, then never sees half a
# report.
#
#   cmake -DPROGRAM=... -DSCENARIO=... -DSTRACE=... -DWORK_DIR=... [-DEMULATOR=...]
#         -P check_writes.cmake
foreach(required PROGRAM SCENARIO STRACE WORK_DIR)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "${required} is not set")
  endif()
endforeach()

set(json_argument)
if(JSON)
  set(json_argument --json)
endif()
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
# One trace file per thread, so that no write is split in two by another.
# LeakSanitizer cannot run under ptrace: a sanitized build leaves leaks to its
# other runs here.
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env "HIDUART_SIM_SCENARIO=${SCENARIO}" "ASAN_OPTIONS=detect_leaks=0"
          ${STRACE} -f -ff -qq -xx -s 1048576 -e trace=write -o "${WORK_DIR}/trace"
          ${EMULATOR} "${PROGRAM}" ${json_argument}
  OUTPUT_FILE "${WORK_DIR}/output"
  RESULT_VARIABLE result
  TIMEOUT 120)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "the program ended with ${result}")
endif()

# In the trace every byte is \xNN. The program's output is found by its first
# line; the system may give it another descriptor than 1.
set(start_line "\\\\x53\\\\x74\\\\x61\\\\x72\\\\x74\\\\x69\\\\x6e\\\\x67")  # "Starting"
if(JSON)
  set(start_line "\\\\x7b\\\\x22\\\\x65\\\\x76\\\\x65\\\\x6e\\\\x74")  # {"event
endif()
set(report_start "\\\\x3e\\\\x3e\\\\x3e\\\\x5b")                              # ">>>["
set(report_end "\\\\x3c\\\\x3c\\\\x3c(\\\\x0d)?\\\\x0a")                    # "<<<" and the line end
file(GLOB traces "${WORK_DIR}/trace.*")
set(writes)
foreach(trace IN LISTS traces)
  file(STRINGS "${trace}" lines REGEX "^write\\(")
  list(APPEND writes ${lines})
endforeach()
set(descriptor)
foreach(write IN LISTS writes)
  if(write MATCHES "^write\\(([0-9]+), \"${start_line}")
    set(descriptor ${CMAKE_MATCH_1})
  endif()
endforeach()
if(descriptor STREQUAL "")
  message(FATAL_ERROR "no write of the program's first line in the trace")
endif()

set(count 0)
set(reports 0)
set(problems)
foreach(write IN LISTS writes)
  if(NOT write MATCHES "^write\\(${descriptor}, \"([^\"]*)\"")
    continue()
  endif()
  set(bytes "${CMAKE_MATCH_1}")
  math(EXPR count "${count} + 1")
  if(JSON)
    string(REGEX MATCHALL "\\\\x0a" ends "${bytes}")
    list(LENGTH ends line_ends)
    if(NOT line_ends EQUAL 1 OR NOT bytes MATCHES "\\\\x7d\\\\x0a$" OR bytes MATCHES "\\\\x0d")
      list(APPEND problems "write ${count} is not one JSON line ending in LF alone")
    endif()
    continue()
  endif()
  string(REGEX MATCHALL "${report_start}" starts "${bytes}")
  string(REGEX MATCHALL "${report_end}" ends "${bytes}")
  list(LENGTH starts opened)
  list(LENGTH ends closed)
  math(EXPR reports "${reports} + ${closed}")
  if(NOT opened EQUAL closed)
    list(APPEND problems "write ${count} holds ${opened} report starts and ${closed} ends")
  endif()
  if(NOT bytes MATCHES "\\\\x0a$")
    list(APPEND problems "write ${count} ends in the middle of a line")
  endif()
endforeach()

file(READ "${WORK_DIR}/output" output)
if(JSON)
  # Every line written was a write of its own.
  string(REGEX MATCHALL "\n" lines "${output}")
  list(LENGTH lines line_count)
  if(NOT line_count EQUAL count)
    list(APPEND problems "${line_count} lines in the output, ${count} writes")
  endif()
  if(problems)
    list(JOIN problems "\n  " text)
    message(FATAL_ERROR "JSON lines left in pieces or joined:\n  ${text}")
  endif()
  message(STATUS "${line_count} JSON lines in ${count} writes, one each")
  return()
endif()
# Counted by their first three characters: a bracket would upset CMake's lists.
string(REGEX MATCHALL "(^|\n)>>>" printed "${output}")
list(LENGTH printed expected_reports)
if(NOT reports EQUAL expected_reports OR expected_reports EQUAL 0)
  list(APPEND problems "${reports} reports in the writes, ${expected_reports} in the output")
endif()
if(problems)
  list(JOIN problems "\n  " text)
  message(FATAL_ERROR "output left in pieces:\n  ${text}")
endif()
message(STATUS "${expected_reports} reports in ${count} writes, each whole")
