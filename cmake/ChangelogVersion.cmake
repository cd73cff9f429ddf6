# SPDX-License-Identifier: MIT
# The version lives in debian/changelog alone: its first entry gives the
# programs' --version, the manual pages and the AppStream release, so that the
# package, the programs and their pages never disagree.
#   ZN7QX_VERSION          the entry's version, as written
#   ZN7QX_NUMERIC_VERSION  its leading numbers, for project()
#   ZN7QX_RELEASE_DATE     the entry's date, YYYY-MM-DD
#   ZN7QX_RELEASE_EPOCH    the same in seconds since 1970, the date the
#                          manual pages carry (as SOURCE_DATE_EPOCH)
file(STRINGS ${CMAKE_CURRENT_SOURCE_DIR}/debian/changelog _zn7qx_changelog)
list(GET _zn7qx_changelog 0 _zn7qx_head)
if(NOT _zn7qx_head MATCHES "^zn7qx-finder \\(([0-9][A-Za-z0-9.+~-]*)\\) ")
  message(FATAL_ERROR "debian/changelog: cannot read the version from \"${_zn7qx_head}\"")
endif()
set(ZN7QX_VERSION ${CMAKE_MATCH_1})
string(REGEX MATCH "^[0-9]+(\\.[0-9]+)*" ZN7QX_NUMERIC_VERSION ${ZN7QX_VERSION})
# The date of that entry (its trailer line: " -- Name <mail>  Mon, 07 Dec 2026 ...").
foreach(_line IN LISTS _zn7qx_changelog)
  if(_line MATCHES "^ -- .*  ([A-Z][a-z][a-z], ([0-9]+) ([A-Z][a-z][a-z]) ([0-9]+) .*)$")
    set(_zn7qx_date ${CMAKE_MATCH_1})
    set(_zn7qx_day ${CMAKE_MATCH_2})
    set(_zn7qx_month ${CMAKE_MATCH_3})
    set(_zn7qx_year ${CMAKE_MATCH_4})
    break()
  endif()
endforeach()
set(_zn7qx_months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
list(FIND _zn7qx_months "${_zn7qx_month}" _zn7qx_month_index)
if(_zn7qx_month_index LESS 0)
  message(FATAL_ERROR "debian/changelog: cannot read the date of the first entry")
endif()
math(EXPR _zn7qx_month_number "${_zn7qx_month_index} + 1")
string(REGEX REPLACE "^([0-9])$" "0\\1" _zn7qx_month_number ${_zn7qx_month_number})
string(REGEX REPLACE "^([0-9])$" "0\\1" _zn7qx_day ${_zn7qx_day})
set(ZN7QX_RELEASE_DATE "${_zn7qx_year}-${_zn7qx_month_number}-${_zn7qx_day}")
execute_process(COMMAND date -u -d "${_zn7qx_date}" +%s OUTPUT_VARIABLE ZN7QX_RELEASE_EPOCH
                OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/debian/changelog)
