# Fails unless LIBRARY exports exactly the twelve bridge operations and names
# itself libSLABHIDtoUART.so.
find_program(NM nm REQUIRED)
find_program(OBJDUMP objdump REQUIRED)
execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY} OUTPUT_VARIABLE symbols
  COMMAND_ERROR_IS_FATAL ANY)
string(REGEX MATCHALL "[^\n ]+\n" names "${symbols}")
list(TRANSFORM names STRIP)
list(SORT names)
set(expected HidUart_Close HidUart_GetHidLibraryVersion HidUart_GetLibraryVersion
  HidUart_GetNumDevices HidUart_GetOpenedString HidUart_GetPartNumber HidUart_GetString
  HidUart_GetUartConfig HidUart_Open HidUart_Read HidUart_SetTimeouts HidUart_SetUartConfig)
if(NOT names STREQUAL expected)
  message(FATAL_ERROR "exported: ${names}\nexpected: ${expected}")
endif()
execute_process(COMMAND ${OBJDUMP} -p ${LIBRARY} OUTPUT_VARIABLE headers
  COMMAND_ERROR_IS_FATAL ANY)
if(NOT headers MATCHES "SONAME +libSLABHIDtoUART\\.so\n")
  message(FATAL_ERROR "SONAME is not libSLABHIDtoUART.so")
endif()
