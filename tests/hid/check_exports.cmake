# SPDX-License-Identifier: Apache-2.0
# Fails unless LIBRARY exports exactly the twelve bridge operations: by the
# name libSLABHIDtoUART.so on Linux; SLABHIDtoUART.dll on Windows.
set(expected HidUart_Close HidUart_GetHidLibraryVersion HidUart_GetLibraryVersion
  HidUart_GetNumDevices HidUart_GetOpenedString HidUart_GetPartNumber HidUart_GetString
  HidUart_GetUartConfig HidUart_Open HidUart_Read HidUart_SetTimeouts HidUart_SetUartConfig)
if(NOT OBJDUMP)
  find_program(OBJDUMP objdump REQUIRED)
endif()

if(LIBRARY MATCHES "\\.dll$")
  execute_process(COMMAND ${OBJDUMP} -p ${LIBRARY} OUTPUT_VARIABLE headers
    COMMAND_ERROR_IS_FATAL ANY)
  if(NOT headers MATCHES "\nName[ \t]+[0-9a-f]+ SLABHIDtoUART\\.dll\n")
    message(FATAL_ERROR "the export table does not name SLABHIDtoUART.dll")
  endif()
  # Entries of the name pointer table: "\t[   0] HidUart_Close".
  string(REGEX MATCHALL "\t\\[ *[0-9]+\\] [A-Za-z_][A-Za-z0-9_@]*\n" entries "${headers}")
  set(names)
  foreach(entry IN LISTS entries)
    string(REGEX REPLACE ".* |\n" "" name "${entry}")
    list(APPEND names ${name})
  endforeach()
  list(SORT names)
  if(NOT names STREQUAL expected)
    message(FATAL_ERROR "exported: ${names}\nexpected: ${expected}")
  endif()
  return()
endif()

find_program(NM nm REQUIRED)
execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY} OUTPUT_VARIABLE symbols
  COMMAND_ERROR_IS_FATAL ANY)
string(REGEX MATCHALL "[^\n ]+\n" names "${symbols}")
list(TRANSFORM names STRIP)
list(SORT names)
if(NOT names STREQUAL expected)
  message(FATAL_ERROR "exported: ${names}\nexpected: ${expected}")
endif()
execute_process(COMMAND ${OBJDUMP} -p ${LIBRARY} OUTPUT_VARIABLE headers
  COMMAND_ERROR_IS_FATAL ANY)
if(NOT headers MATCHES "SONAME +libSLABHIDtoUART\\.so\n")
  message(FATAL_ERROR "SONAME is not libSLABHIDtoUART.so")
endif()
