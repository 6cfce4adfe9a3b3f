# CLI11, the command-line parser, is header-only. The MinGW build takes Debian's copy too,
# through a folder of the build tree that shows only CLI/: the rest of /usr/include is glibc's.
if(WIN32 AND CMAKE_CROSSCOMPILING)
  find_path(TOLVANE_CLI11_INCLUDE CLI/CLI.hpp PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
  set(cli11_root ${PROJECT_BINARY_DIR}/include/cli11)
  file(MAKE_DIRECTORY ${cli11_root})
  file(CREATE_LINK ${TOLVANE_CLI11_INCLUDE}/CLI ${cli11_root}/CLI SYMBOLIC)
  add_library(tolvane_cli11 INTERFACE)
  target_include_directories(tolvane_cli11 SYSTEM INTERFACE ${cli11_root})
else()
  find_package(CLI11 CONFIG REQUIRED)
  add_library(tolvane_cli11 INTERFACE)
  target_link_libraries(tolvane_cli11 INTERFACE CLI11::CLI11)
endif()
