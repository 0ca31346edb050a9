# SPDX-License-Identifier: Apache-2.0
cmake_minimum_required(VERSION 3.25)
# The manual page and --help must name the same options, so that neither can
# gain or lose one alone: the usage lines against the page's SYNOPSIS, and
# the options --help describes against the page's OPTIONS.
#   cmake -DPROGRAM=... -DMANUAL_PAGE=... -P check_manual_page.cmake
execute_process(COMMAND ${PROGRAM} --help OUTPUT_VARIABLE help RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${PROGRAM} --help failed: ${failed}")
endif()
file(READ ${MANUAL_PAGE} page)

# Every option named in TEXT, each once, sorted, into VARIABLE.
function(options_in text variable)
  # Brackets would hold list elements together.
  string(REGEX REPLACE "[][]" " " text "${text}")
  string(REGEX MATCHALL "(^|[^A-Za-z0-9-])--?[A-Za-z][A-Za-z-]*" found "${text}")
  list(TRANSFORM found REPLACE "^[^-]" "")
  list(REMOVE_DUPLICATES found)
  list(SORT found)
  set(${variable} "${found}" PARENT_SCOPE)
endfunction()

# --help: the usage is the first paragraph; each option it describes starts a
# line indented by two spaces ("  -h, --help    prints...").
string(REGEX REPLACE "\n\n.*" "" help_usage "${help}")
string(REGEX MATCHALL "\n  -[-A-Za-z]+(, -[-A-Za-z]+)*" help_described "${help}")
options_in("${help_usage}" help_usage)
options_in("${help_described}" help_described)

# The page: its text with roff's escapes for a minus sign and fonts taken out;
# the options of its OPTIONS section are the tags, the line after each .TP.
string(REPLACE "\\-" "-" page "${page}")
string(REGEX REPLACE "\\\\f[BIRP]" "" page "${page}")
string(REGEX MATCH "\n\\.SH SYNOPSIS\n[^\n]*(\n[^.][^\n]*|\n\\.[^S][^\n]*)*" page_synopsis
       "${page}")
string(REGEX MATCH "\n\\.SH OPTIONS\n[^\n]*(\n[^.][^\n]*|\n\\.[^S][^\n]*)*" page_options "${page}")
string(REGEX MATCHALL "\n\\.TP\n[^\n]*" page_described "${page_options}")
string(REPLACE "SYNOPSIS" "" page_synopsis "${page_synopsis}")
string(REPLACE ".TP" "" page_described "${page_described}")
options_in("${page_synopsis}" page_usage)
options_in("${page_described}" page_described)

set(problems)
foreach(part IN ITEMS usage described)
  if(NOT "--help" IN_LIST help_${part} OR NOT "--help" IN_LIST page_${part})
    string(APPEND problems "\n  no --help found among the ${part} options: the layout of "
           "--help or of the page is not what this test reads")
  endif()
  set(only_help ${help_${part}})
  set(only_page ${page_${part}})
  list(REMOVE_ITEM only_help ${page_${part}})
  list(REMOVE_ITEM only_page ${help_${part}})
  if(only_help)
    string(APPEND problems "\n  ${part} in --help only: ${only_help}")
  endif()
  if(only_page)
    string(APPEND problems "\n  ${part} in the manual page only: ${only_page}")
  endif()
endforeach()
if(problems)
  message(FATAL_ERROR "--help and ${MANUAL_PAGE} differ:${problems}")
endif()
message(STATUS "--help and the manual page name the same options: ${help_described}")
