# Each library of the tool shows its dependants its own headers only, as LAYER/Header.h from an
# include root of its own in the build tree, so that an #include naming a layer the library may
# not use does not compile (tests/layering checks it).
#
# tolvane_layer_headers(<target> <layer> [HEADERS <file>...] [HEADERS_NEED <layer>...])
#   <layer>       the library's folder under src, and the name its headers are included by
#                 (hid, ui/console).
#   HEADERS       only these headers of the folder are shown (default: the whole folder).
#   HEADERS_NEED  layers that the library's own headers include but its dependants may not:
#                 they are linked beside the headers, where the headers' own quoted includes
#                 find them and a dependant's #include does not.
function(tolvane_layer_headers target layer)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "" "HEADERS;HEADERS_NEED")
  set(root ${PROJECT_BINARY_DIR}/include/${target})
  set(source ${PROJECT_SOURCE_DIR}/src/${layer})
  set(shown ${root}/${layer})
  # Only links live here; they are removed one by one, never recursively, so that a removal
  # cannot reach into the sources they point at.
  if(IS_SYMLINK ${shown})
    file(REMOVE ${shown})
  elseif(IS_DIRECTORY ${shown})
    file(GLOB stale LIST_DIRECTORIES true ${shown}/*)
    file(REMOVE ${stale})
  endif()
  get_filename_component(parent ${shown} DIRECTORY)
  file(MAKE_DIRECTORY ${parent})
  if(NOT arg_HEADERS AND NOT arg_HEADERS_NEED)
    file(CREATE_LINK ${source} ${shown} SYMBOLIC)
  else()
    if(NOT arg_HEADERS)
      file(GLOB arg_HEADERS CONFIGURE_DEPENDS RELATIVE ${source} ${source}/*.h)
    endif()
    file(MAKE_DIRECTORY ${shown})
    foreach(header IN LISTS arg_HEADERS)
      file(CREATE_LINK ${source}/${header} ${shown}/${header} SYMBOLIC)
    endforeach()
    foreach(needed IN LISTS arg_HEADERS_NEED)
      file(CREATE_LINK ${PROJECT_SOURCE_DIR}/src/${needed} ${shown}/${needed} SYMBOLIC)
    endforeach()
  endif()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL INTERFACE_LIBRARY)
    target_include_directories(${target} INTERFACE ${root})
  else()
    target_include_directories(${target} PUBLIC ${root})
  endif()
endfunction()
