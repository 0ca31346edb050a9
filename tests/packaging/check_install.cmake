# Installs the build into a fresh folder, with and without the simulated
# bridge's component, and checks what an operator would get.
#   cmake -DBUILD_DIR=... -DWORK_DIR=... -DPROGRAM=... -DLIBRARY=... -P check_install.cmake
foreach(component program simulated_bridge)
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
  set(${component}_files ${installed})
endforeach()

foreach(wanted "${PROGRAM}" README.md)
  if(NOT program_files MATCHES "(^|;)([^;]*/)?${wanted}(;|$)")
    message(FATAL_ERROR "the default install lacks ${wanted}: ${program_files}")
  endif()
endforeach()
if(program_files MATCHES "SLABHIDtoUART")
  message(FATAL_ERROR "the default install ships the simulated bridge: ${program_files}")
endif()
if(NOT simulated_bridge_files MATCHES "(^|;)([^;]*/)?${LIBRARY}(;|$)")
  message(FATAL_ERROR "the simulated bridge's component lacks ${LIBRARY}: ${simulated_bridge_files}")
endif()
