# SPDX-License-Identifier: Apache-2.0
# The manual page and the changelog of the Linux package, made from their
# sources in packaging/ and compressed as Debian wants them: gzip -9, with no
# name or time in the header, so that the same sources give the same bytes.
# Sets KESTRUNE_MANUAL_PAGE (the page itself, for its test),
# KESTRUNE_MANUAL_PAGE_GZ and KESTRUNE_CHANGELOG_GZ.
find_program(KESTRUNE_GZIP gzip REQUIRED)

# The changelog's latest entry is the release being built: its version must
# be the project's, and its date is the manual page's.
set(kestrune_changelog ${PROJECT_SOURCE_DIR}/packaging/changelog)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${kestrune_changelog})
file(STRINGS ${kestrune_changelog} kestrune_changelog_lines)
list(GET kestrune_changelog_lines 0 kestrune_changelog_head)
if(NOT kestrune_changelog_head MATCHES "^kestrune \\(([^)]+)\\) "
   OR NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "packaging/changelog starts with \"${kestrune_changelog_head}\": its "
          "latest entry must be for version ${PROJECT_VERSION}")
endif()
list(FILTER kestrune_changelog_lines INCLUDE REGEX "^ -- ")
list(GET kestrune_changelog_lines 0 kestrune_changelog_trailer)
set(kestrune_months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
if(NOT kestrune_changelog_trailer MATCHES
   ">  [A-Z][a-z][a-z], ([0-9][0-9]?) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9]) ")
  message(FATAL_ERROR "packaging/changelog: no date in \"${kestrune_changelog_trailer}\"")
endif()
list(FIND kestrune_months "${CMAKE_MATCH_2}" kestrune_month)
if(kestrune_month LESS 0)
  message(FATAL_ERROR "packaging/changelog: no month \"${CMAKE_MATCH_2}\"")
endif()
math(EXPR kestrune_month "101 + ${kestrune_month}")
string(SUBSTRING ${kestrune_month} 1 2 kestrune_month)
math(EXPR kestrune_day "100 + ${CMAKE_MATCH_1}")
string(SUBSTRING ${kestrune_day} 1 2 kestrune_day)
set(KESTRUNE_RELEASE_DATE ${CMAKE_MATCH_3}-${kestrune_month}-${kestrune_day})

set(KESTRUNE_MANUAL_PAGE ${PROJECT_BINARY_DIR}/packaging/kestrune.1)
set(KESTRUNE_MANUAL_PAGE_GZ ${KESTRUNE_MANUAL_PAGE}.gz)
set(KESTRUNE_CHANGELOG_GZ ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
configure_file(${PROJECT_SOURCE_DIR}/packaging/kestrune.1.in ${KESTRUNE_MANUAL_PAGE} @ONLY)
configure_file(${kestrune_changelog} ${PROJECT_BINARY_DIR}/packaging/changelog COPYONLY)
foreach(kestrune_document IN ITEMS ${KESTRUNE_MANUAL_PAGE} ${PROJECT_BINARY_DIR}/packaging/changelog)
  add_custom_command(OUTPUT ${kestrune_document}.gz
                     COMMAND ${KESTRUNE_GZIP} -9nkf ${kestrune_document}
                     DEPENDS ${kestrune_document} VERBATIM)
endforeach()
add_custom_target(package_documents ALL DEPENDS ${KESTRUNE_MANUAL_PAGE_GZ} ${KESTRUNE_CHANGELOG_GZ})
