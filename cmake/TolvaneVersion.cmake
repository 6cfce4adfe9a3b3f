# The one version header, TolvaneVersion.h, from project(VERSION): the text the programs show
# and the four numbers a Windows version resource holds.
set(TOLVANE_VERSION_NUMBERS "")
foreach(part MAJOR MINOR PATCH TWEAK)
  set(number "${PROJECT_VERSION_${part}}")
  if(number STREQUAL "")
    set(number 0)
  endif()
  list(APPEND TOLVANE_VERSION_NUMBERS ${number})
endforeach()
list(JOIN TOLVANE_VERSION_NUMBERS "," TOLVANE_VERSION_NUMBERS)
set(TOLVANE_COPYRIGHT "Copyright (C) 2026 The TOLVANE developers")
configure_file(${CMAKE_CURRENT_LIST_DIR}/TolvaneVersion.h.in
  ${PROJECT_BINARY_DIR}/include/tolvane_version/TolvaneVersion.h @ONLY)

add_library(tolvane_version INTERFACE)
target_include_directories(tolvane_version INTERFACE ${PROJECT_BINARY_DIR}/include/tolvane_version)
