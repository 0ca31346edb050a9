# SPDX-License-Identifier: Apache-2.0
# Runs one libFuzzer target for a bounded time and prints how many inputs it
# tried. Fails when the fuzzer finds a crash or a mismatch; the input that
# caused it is left in WORK_DIR.
#
#   cmake -DFUZZER=... -DWORK_DIR=... -DSECONDS=30 -DSEEDS=dir[;dir...]
#         [-DDICTIONARY=...] [-DMAX_LEN=...] -P run_fuzzer.cmake
foreach(required FUZZER WORK_DIR SECONDS SEEDS)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "${required} is not set")
  endif()
endforeach()

# New inputs go to the first corpus folder, the one in the build tree; the
# seed folders are only read.
set(corpus "${WORK_DIR}/corpus")
file(MAKE_DIRECTORY "${corpus}")
set(options -max_total_time=${SECONDS} -print_final_stats=1 -artifact_prefix=${WORK_DIR}/)
if(DEFINED DICTIONARY)
  list(APPEND options -dict=${DICTIONARY})
endif()
if(DEFINED MAX_LEN)
  list(APPEND options -max_len=${MAX_LEN})
endif()

set(log "${WORK_DIR}/fuzz.log")
execute_process(COMMAND "${FUZZER}" ${options} "${corpus}" ${SEEDS}
                OUTPUT_FILE "${log}" ERROR_FILE "${log}" RESULT_VARIABLE exit_code)
file(STRINGS "${log}" summary REGEX "^(INFO: seed corpus|Done [0-9]+ runs)")
get_filename_component(name "${FUZZER}" NAME)
list(JOIN summary "\n  " summary)
if(NOT exit_code STREQUAL "0")
  file(READ "${log}" output)
  message(FATAL_ERROR "${name} failed (${exit_code}); log ${log}:\n${output}")
endif()
message("${name}:\n  ${summary}")
