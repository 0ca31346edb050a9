# SPDX-License-Identifier: Apache-2.0
# Compiler warnings for the project's own targets. KESTRUNE_WARNINGS_AS_ERRORS
# turns them into errors (CI and the presets set it).
option(KESTRUNE_WARNINGS_AS_ERRORS "Treat compiler warnings as errors" OFF)

function(kestrune_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 $<$<BOOL:${KESTRUNE_WARNINGS_AS_ERRORS}>:/WX>)
    # getenv, fopen and friends are standard C++; their "secure" variants are not.
    target_compile_definitions(${target} PRIVATE _CRT_SECURE_NO_WARNINGS)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
      -Wsign-conversion -Wformat=2 -Wundef -Wcast-qual -Wold-style-cast
      $<$<BOOL:${KESTRUNE_WARNINGS_AS_ERRORS}>:-Werror>)
  endif()
endfunction()
