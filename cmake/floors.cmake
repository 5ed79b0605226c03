# The floors of the source tree. Each folder is one library whose headers are
# reachable as "<folder>/name.h" only from the targets that link it: its
# include root is a folder of the build tree that holds one link, named after
# the folder, to the folder itself. A file that includes a header of a floor
# it does not link (an upward include) therefore fails to build.

# iap_include_root(TARGET NAME DIR): TARGET's headers in DIR become "NAME/..."
# to TARGET and to everything that links it.
function(iap_include_root target name dir)
  set(root ${CMAKE_BINARY_DIR}/include-roots/${name})
  if(NOT EXISTS ${root}/${name})
    file(MAKE_DIRECTORY ${root})
    file(CREATE_LINK ${dir} ${root}/${name} SYMBOLIC)
  endif()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${root})
  else()
    target_include_directories(${target} PUBLIC ${root})
  endif()
endfunction()

# iap_floor(TARGET [FOLDER name] SOURCES ... [PUBLIC libs] [PRIVATE libs]):
# a static library of our own code in src/<name> (FOLDER defaults to the
# folder of the calling CMakeLists.txt).
function(iap_floor target)
  cmake_parse_arguments(F "" "FOLDER" "SOURCES;PUBLIC;PRIVATE" ${ARGN})
  get_filename_component(here ${CMAKE_CURRENT_SOURCE_DIR} NAME)
  if(NOT F_FOLDER)
    set(F_FOLDER ${here})
  endif()
  add_library(${target} STATIC ${F_SOURCES})
  iap_include_root(${target} ${F_FOLDER} ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${target} PUBLIC ${F_PUBLIC} PRIVATE ${F_PRIVATE})
  iap_target_warnings(${target})
endfunction()
