# SPDX-License-Identifier: Apache-2.0
# Runs cpack on a Windows build and checks its two ZIPs: the program alone,
# and the program with our bridge library. The simulated DLL is in neither.
#   cmake -DBUILD_DIR=... -DWORK_DIR=... -DVERSION=... -P check_zips.cmake
file(REMOVE_RECURSE "${WORK_DIR}")
execute_process(COMMAND ${CMAKE_CPACK_COMMAND} --config "${BUILD_DIR}/CPackConfig.cmake"
                        -B "${WORK_DIR}"
                WORKING_DIRECTORY "${BUILD_DIR}" OUTPUT_QUIET RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "cpack failed")
endif()
set(base kestrune-${VERSION}-windows-x64)
set(expected_${base} LICENSE.txt MANUAL.txt README.txt json-lines.md kestrune.exe
    third-party/mosquitto-edl-v10.txt)
set(expected_${base}-open-bridge LICENSE.txt MANUAL.txt README.txt SLABHIDtoUART.dll json-lines.md
    kestrune.exe
    third-party/hidapi-LICENSE-bsd.txt third-party/mosquitto-edl-v10.txt)
file(GLOB zips RELATIVE "${WORK_DIR}" "${WORK_DIR}/*.zip")
list(SORT zips)
if(NOT zips STREQUAL "${base}-open-bridge.zip;${base}.zip")
  message(FATAL_ERROR "cpack made ${zips}")
endif()
foreach(name ${base} ${base}-open-bridge)
  execute_process(COMMAND ${CMAKE_COMMAND} -E tar tf "${WORK_DIR}/${name}.zip"
                  OUTPUT_VARIABLE listing COMMAND_ERROR_IS_FATAL ANY)
  string(REGEX REPLACE "\n$" "" listing "${listing}")
  string(REPLACE "\n" ";" entries "${listing}")
  list(TRANSFORM entries REPLACE "^${name}/" "")
  list(FILTER entries EXCLUDE REGEX "/$")
  list(SORT entries)
  if(NOT entries STREQUAL "${expected_${name}}")
    message(FATAL_ERROR "${name}.zip holds ${entries}, not ${expected_${name}}")
  endif()
endforeach()
message(STATUS "${base}.zip and ${base}-open-bridge.zip hold what they should")
