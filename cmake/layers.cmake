# The component's layers. Each is a static library compiled against a view of the source tree
# that holds only its own folder and the folders it may use (links in the build tree), so an
# include against the layering does not compile. Shared by the Windows and the native build.
set(OMBRIX_COMPONENT_DIR "${CMAKE_CURRENT_LIST_DIR}/../Component")
get_filename_component(OMBRIX_COMPONENT_DIR "${OMBRIX_COMPONENT_DIR}" ABSOLUTE)

# ombrix_layer(NAME SOURCES files... USES layers... [LINKS libraries...] [INCLUDES dirs...])
# USES names every layer whose headers NAME includes, directly or through their headers.
function(ombrix_layer name)
  cmake_parse_arguments(L "" "" "SOURCES;USES;LINKS;INCLUDES" ${ARGN})
  set(view "${CMAKE_BINARY_DIR}/layer_views/${name}")
  file(REMOVE_RECURSE "${view}")
  file(MAKE_DIRECTORY "${view}")
  foreach(folder ${name} ${L_USES})
    file(CREATE_LINK "${OMBRIX_COMPONENT_DIR}/${folder}" "${view}/${folder}" SYMBOLIC)
  endforeach()
  list(TRANSFORM L_SOURCES PREPEND "${OMBRIX_COMPONENT_DIR}/${name}/")
  add_library(ombrix_${name} STATIC ${L_SOURCES})
  target_include_directories(ombrix_${name} PRIVATE "${view}" ${L_INCLUDES})
  foreach(used ${L_USES})
    target_link_libraries(ombrix_${name} PUBLIC ombrix_${used})
  endforeach()
  target_link_libraries(ombrix_${name} PUBLIC ${L_LINKS})
endfunction()
